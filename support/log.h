// The debug log: one line per event on standard output, stamped with the
// milliseconds since start, written only while debug_flag is on.
#pragma once

// Takes the start stamp; runs before the entry.
void log_start_stamp();
void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
