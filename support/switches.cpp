#include "support/switches.h"

char* jvm_override = nullptr;
char* max_heap = nullptr;
bool debug_flag = false;
bool quiet_flag = false;
bool merge_stderr_flag = false;
bool no_relay_flag = false;
