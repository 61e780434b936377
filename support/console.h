// Standard streams: binary mode at entry, the output relay and the merge of
// standard error into standard output.
#pragma once

// Puts standard output and standard error into binary mode.
void console_binary_mode();
// Puts a pipe in front of standard output (the standard handle, descriptor
// 1 and the stdout stream, unbuffered) and starts the relay thread, which
// copies what arrives to the console the process started with. Any failure
// leaves standard output as it was.
void relay_setup();
// Makes standard error write wherever standard output writes (-E*).
void stderr_merge();

// A stack dump: from relay_dump_begin on, the relay copies standard output
// into `fd` instead of the console. relay_dump_end returns once everything
// written before it was called has reached that file; later output goes to
// the console again. Without a relay the dump file receives nothing.
void relay_dump_begin(int fd);
void relay_dump_end();
