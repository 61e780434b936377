// The switch settings: written only while the leading switches are read,
// read-only afterwards.
#pragma once

extern char* jvm_override;  // -jvm:  (none: null)
extern char* max_heap;      // -H*, -1* to -9*: megabytes (none: null)
extern bool debug_flag;     // -D*
extern bool quiet_flag;     // -Q*
extern bool merge_stderr_flag;  // -E*
extern bool no_relay_flag;      // -W*
