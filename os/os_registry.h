// Inside the platform layer only: the system's own registry (the Win32
// registry, or the view of installed runtimes on POSIX) behind the os_reg_*
// calls of os.h, which answer from the fake registry instead while a test
// has installed one. The contracts are those of os.h; a key is an opaque
// handle, null when it cannot be opened.
#pragma once

#include "os/os.h"

// `view`: opened in the registry view of the stub's bitness (os_reg_open_view).
void* native_reg_open(os_reg_root root, bool view, const char* path);
long native_reg_query(void* key, const char* name, char* buf, size_t size, os_reg_type* type);
bool native_reg_subkey(void* key, uint32_t index, char* name, size_t size);
void native_reg_close(void* key);

// True when two key paths name the same key (letter case and a trailing '\'
// aside).
bool os_reg_same_path(const char* a, const char* b);

// The system's further places of runtimes (os_runtime_places).
extern const os_place native_places[];
extern const size_t native_place_count;
