// The control channel: named objects through which another process of the
// same user asks a running launcher for its status or a dump of all Java
// thread stacks.
#pragma once

#include <cstddef>

// The shared block: the command text, then the reply text.
const size_t control_block_size = 2048;
const size_t control_reply_offset = 1024;

// The control thread's body: creates the objects named with the run id and
// serves requests until the process ends. Returns 0 when it gives up: the
// block exists already (another launcher has the name) or an object cannot
// be made.
int control_thread_main();
// Carries out the command in `block` (control_block_size bytes) and leaves
// the reply at control_reply_offset; an unknown or empty command leaves it
// empty. Only the first 1024 bytes are ever read as the command.
void handle_command(char* block);
// control_thread_main as a thread body.
void control_thread();
