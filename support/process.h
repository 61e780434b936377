// The one way the launcher starts another program.
#pragma once

#include <cstdint>

// Starts the program that the command line's first word names, with the
// launcher's environment and standard handles; a detached program runs in
// a session of its own. Returns its process handle, or 0 when it did not
// start. The caller owns the handle of a program it waits for.
intptr_t run_command(char* command_line, bool detached);
