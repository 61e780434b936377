// The single exit path, the VM's exit and abort hooks, and the one way the
// launcher starts another program.
#pragma once

#include <cstdint>

// Ends the process with `code`. The first thread to arrive ends it; any
// later one blocks for good. Starts the detached removal child of the temp
// folder when a temp path is known.
[[noreturn]] void launcher_exit(int32_t code);
// Starts the detached removal child of the temp folder; its result is not
// examined.
void start_removal();
// The exit path for an exhausted heap, so that the temp folder still goes.
const int32_t out_of_memory_code = 1;
[[noreturn]] void out_of_memory_exit();
// The VM calls these when Java code ends it with a status, or when it aborts.
[[noreturn]] void exit_hook(int32_t status);
[[noreturn]] void abort_hook();

// Starts the program that the command line's first word names, with the
// launcher's environment and standard handles; a detached program runs in
// a session of its own. Returns its process handle, or 0 when it did not
// start. The caller owns the handle of a program it waits for.
intptr_t run_command(char* command_line, bool detached);
