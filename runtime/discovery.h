// Runtime discovery: which VM library this launch loads. In order: the
// private runtime named by the Vars key "jvm" beside the executable, the
// -jvm: override, the registered current runtime inside the version window,
// then the newest registered runtime inside the window.
#pragma once

#include <cstdint>

// The private runtime: module dir, a separator and the "jvm" value, when
// that file exists; null otherwise (also when the key is absent, which
// leaves no trace in the log).
char* find_private_jvm(const char* module_dir, const char* vars);
// A fresh copy of the registered CurrentVersion text, or null.
char* registry_current_jre();
// A fresh copy of that version's RuntimeLib path when the file exists, or
// null (also for a null version text).
char* registry_runtime_lib(const char* version);
// jvm_override when set, unchecked; otherwise the VM library of a registered
// runtime inside minver..maxver (both inclusive), or null.
char* find_registry_jre(uint64_t minver, uint64_t maxver);
