// Standard streams: binary mode at entry, the output relay and the merge of
// standard error into standard output.
#pragma once

// Puts standard output and standard error into binary mode.
void console_binary_mode();
// Whether the launch relays standard output, given the Vars value "relay"
// (null when absent): "on" or "off" decide; otherwise only the windowed
// Windows stubs relay, whose standard output is often no console at all.
// Console programs keep the streams the shell gave them, so that a terminal
// stays a terminal and standard output and error keep the order of writes.
bool relay_chosen(const char* value);
// Puts a pipe in front of standard output (the standard handle, descriptor
// 1 and the stdout stream, unbuffered) and starts the relay thread, which
// copies what arrives to the console the process started with. Any failure
// leaves standard output as it was.
void relay_setup();
// Makes standard error write wherever standard output writes (-E*).
void stderr_merge();

// A stack dump: from relay_dump_begin on, standard output goes into `fd`
// instead of the console (through the relay, or without one by pointing
// descriptor 1 at it). relay_dump_end returns once everything written
// before it was called has reached that file; later output goes to the
// console again.
void relay_dump_begin(int fd);
void relay_dump_end();
