// Runtime discovery: which VM library this launch loads. In order: the
// private runtime named by the Vars key "jvm" beside the executable, the
// runtime packed into the package (the key "runtime"), the -jvm: override, the registered current runtime inside the version window,
// then the newest registered runtime inside the window; only when all of
// these give nothing, the newest runtime inside the window from the further
// places of the platform layer (os_runtime_places).
#pragma once

#include <cstddef>
#include <cstdint>

// The private runtime: module dir, a separator and the "jvm" value, when
// that file exists; null otherwise (also when the key is absent, which
// leaves no trace in the log).
char* find_private_jvm(const char* module_dir, const char* vars);
// The runtime packed into the package: the VM library below `files` (the
// folder the package's files were extracted into) and the folder that the
// Vars key "runtime" names, when it exists; null otherwise (also when the
// key is absent, which leaves no trace in the log).
char* find_packed_jvm(const char* files, const char* vars);
// A fresh copy of the registered CurrentVersion text, or null.
char* registry_current_jre();
// A fresh copy of that version's RuntimeLib path when the file exists, or
// null (also for a null version text).
char* registry_runtime_lib(const char* version);
// jvm_override when set, unchecked; otherwise the VM library of a registered
// runtime inside minver..maxver (both inclusive), else that of
// find_further_jre, or null.
char* find_registry_jre(uint64_t minver, uint64_t maxver);
// The further places, in their order: every runtime found there is a
// candidate (version, VM library); the greatest version inside the window
// whose VM library fits this process wins, of equal versions the one found
// first, and a version of 0 never. Every place and candidate is logged.
char* find_further_jre(uint64_t minver, uint64_t maxver);
// Error 10's text for the executable's name, with the added sentence when a
// runtime inside the window was passed over for its bitness.
char* no_runtime_error(const char* exe_name);

// What the first bytes of a VM library say about it.
struct vm_binary {
    bool known;        // a PE or ELF header fits the bytes
    bool pe;           // PE (else ELF)
    int bits;          // 32 or 64
    unsigned machine;  // IMAGE_FILE_MACHINE_* or EM_*
};
vm_binary read_vm_binary(const unsigned char* bytes, size_t length);
