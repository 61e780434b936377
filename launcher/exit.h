// The single exit path and the VM's exit and abort hooks.
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
