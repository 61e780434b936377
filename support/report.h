// Error reporting: the launch error text convention, the PROBLEM/SOLUTION
// paragraph chosen by the code's tens digit, the console block and message
// box. Also the names every message box shows. The runtime follow-up after
// a report lives with the runtime (runtime/getjava.h).
#pragma once

#include <cstdint>

// The error code of a launch error text: the number formed by its leading
// digits; 0 for none or null.
int32_t error_code_of(const char* text);
// The two names of the stub configuration block; they live as long as the
// process.
const char* display_name_text();
const char* original_name_text();
// "display name (original name)", made once: the caption of every box.
const char* caption_text();
// The explanatory paragraph for an error code, or null when the code has
// none (tens digit 0, 6, 7, 8, codes of 100 and above, negative codes).
const char* problem_text(int32_t code);
// Prints and shows the launch error text unless quiet_flag is set.
void report_error(const char* text);
