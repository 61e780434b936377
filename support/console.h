// Standard streams: binary mode at entry, the output relay and the merge of
// standard error into standard output.
#pragma once

// Puts standard output and standard error into binary mode.
void console_binary_mode();
void relay_setup();
void stderr_merge();
