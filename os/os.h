// The platform layer: every OS service the launcher uses, in the launcher's
// own vocabulary. os_win32.cpp implements it with the ANSI Win32 calls,
// os_posix.cpp with the nearest POSIX equivalents. Behaviour (orders, texts,
// error codes, retries) lives in the core, never here.
//
// Map of this header:
//   1. per-OS constants
//   2. fault injection (tests make a named call fail)
//   3. standard streams, counters, threads, locks
//   4. files and folders
//   5. process facts, environment, current directory
//   6. processes
//   7. user interface
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---- 1. per-OS constants ---------------------------------------------------

extern const char os_path_sep;        // '\\' on Windows, '/' on POSIX
extern const char os_list_sep;        // ';' on Windows, ':' on POSIX
extern const char* const os_env_path;      // "path" / "PATH"
extern const char* const os_env_classpath; // "classpath" / "CLASSPATH"
// Last error for input the core refuses itself (ERROR_INVALID_DATA / EINVAL).
extern const int os_error_invalid_data;

// ---- 2. fault injection ----------------------------------------------------

// Calls that a test can make fail. Each os function named here first asks
// os_fault_hit(); on a hit it fails the way the real call fails and sets the
// last error to the chosen code.
enum os_call {
    OS_CALL_MODULE_FILENAME,
    OS_CALL_MAP_FILE,
    OS_CALL_TEMP_PATH,
    OS_CALL_CREATE_DIR,
    OS_CALL_SET_ENV,
    OS_CALL_DELETE_FILE,
    OS_CALL_FILE_CREATE,
    OS_CALL_FILE_WRITE,
    OS_CALL_START_PROCESS,
    OS_CALL_ALLOC,  // the tracked allocator's heap request
    OS_CALL_COUNT
};

// Fail the nth call (1 = the next one) of `call` and, when `times` > 1, the
// calls after it, `times` calls in all (-1: for ever), with `error` as the
// last error. os_fault_clear() restores every call.
void os_fault_set(os_call call, int nth, int times, int error);
void os_fault_clear();
bool os_fault_hit(os_call call);

// ---- 3. standard streams, counters, threads, locks -------------------------

// Descriptor of a C runtime stream (negative when it has none).
int os_stream_fd(FILE* stream);
// Put a descriptor into binary mode (no-op on POSIX).
void os_set_binary(int fd);

// High-resolution counter and its ticks per second.
int64_t os_counter();
int64_t os_counter_frequency();

// Milliseconds since the system started (wraps like GetTickCount).
uint32_t os_uptime_ms();
uint32_t os_process_id();
// Whether process `pid` runs: 1 with its start time in *start (ticks since
// boot on Linux, a FILETIME on Windows: together with the id it tells a
// reused id apart), 0 when no process of that id runs, -1 when it cannot
// be told.
int os_process_start(uint32_t pid, uint64_t* start);
void os_sleep_ms(int ms);

// Start body on a new thread at once; the handle is never null on success.
void* os_start_thread(void (*body)());

// The process-wide exit lock: recursive for its owner, created before entry.
void os_exit_lock_create();
void os_exit_lock_enter();

// The system's last error code (GetLastError / errno).
int os_last_error();
void os_set_last_error(int error);

// ---- 4. files and folders --------------------------------------------------

// True when the file system reports attributes for the path (file or folder).
bool os_file_exists(const char* path);
// True when the path exists and is a folder.
bool os_is_dir(const char* path);
// Create one folder (private to this user on POSIX). False on failure,
// also when it exists already.
bool os_create_dir(const char* path);
// Remove an empty folder. False when it is not empty or not removable.
bool os_remove_dir(const char* path);
// Delete a file, or a link itself (never what it points to).
bool os_delete_file(const char* path);

// A directory listing. Entries that are symbolic links or reparse points are
// reported as OS_ENTRY_LINK, never as folders, so nobody follows them.
enum os_entry_kind { OS_ENTRY_FILE, OS_ENTRY_DIR, OS_ENTRY_LINK };
struct os_dir;
// Null when the folder cannot be listed, is itself a link or reparse point,
// or its search pattern does not fit.
os_dir* os_dir_open(const char* folder);
// Next entry name (including "." and ".." where the OS reports them); false
// at the end. Names that do not fit `size` are passed over.
bool os_dir_next(os_dir* dir, char* name, size_t size, os_entry_kind* kind);
void os_dir_close(os_dir* dir);

// A file created (or truncated) for reading and writing, shared with others.
struct os_file;
os_file* os_file_create(const char* path);
// One write call; the number of bytes written, -1 on failure.
long os_file_write(os_file* file, const void* data, size_t length);
void os_file_close(os_file* file);

// Writes a new file of `text`, readable and writable by this user only,
// whole or not at all: readers never see a part of it. False when it could
// not be written or `path` exists already; `temp` is the name used on the
// way where the system cannot write a nameless file first.
bool os_write_new_file(const char* path, const char* temp, const char* text);
// Reads the start of a regular file (never through a link) into buf, NUL
// ended; the number of bytes read, -1 on failure.
long os_read_file_start(const char* path, char* buf, size_t size);
// True when `path` itself (not a link or reparse point) is a folder that
// belongs to this user (POSIX; on Windows the temp path is the user's own);
// age_seconds is the time since its entries last changed.
bool os_own_folder(const char* path, int64_t* age_seconds);

// Read-only mapping of a whole file. The three resources stay held after a
// partial failure until os_unmap_file releases what is held.
struct os_mapping {
    intptr_t file;       // -1 (the invalid handle) when not held
    void* object;        // mapping object (Windows), null when not held
    const void* view;    // null when not held
    size_t view_length;  // the mapped length (POSIX munmap needs it)
};
// Start it as {-1, nullptr, nullptr, 0}.
// Length of the file (low 32 bits), or -1 when open, mapping or view fails.
int32_t os_map_file(const char* path, os_mapping* mapping);
void os_unmap_file(os_mapping* mapping);

// ---- 5. process facts, environment, current directory ----------------------

// Full path of the running executable into buf; its length, 0 on failure.
size_t os_module_filename(char* buf, size_t size);
// The system temp path into buf (size bytes); its length, 0 on failure.
size_t os_temp_path(char* buf, size_t size);

// Value of an environment variable into buf; its length, 0 when unset or
// empty. When it does not fit, the size it needs (NUL included) is returned
// and buf is left empty.
size_t os_get_env(const char* name, char* buf, size_t size);
// Size of the value including its NUL; 0 when the variable does not exist.
size_t os_env_size(const char* name);
bool os_set_env(const char* name, const char* value);
// Keeps PATH as it is now as the start PATH that the desktop tools are
// looked up on (section 7); called once at start-up, before anything
// changes PATH. Until then the current PATH serves.
void os_keep_start_path();

bool os_set_cwd(const char* path);
// Current directory into buf; its length, 0 on failure or when it does not fit.
size_t os_get_cwd(char* buf, size_t size);

// ---- 6. processes ----------------------------------------------------------

// Start a program. Windows uses command_line (its first word names the
// program); POSIX spawns words[0] with words as argv. A detached process
// runs in a session of its own (no console on Windows). Returns a process
// handle, or 0 when the start failed.
intptr_t os_start_process(char* command_line, char* const* words, bool detached);
void os_wait_process(intptr_t process);
void os_close_process(intptr_t process);

// ---- 7. user interface -----------------------------------------------------

enum os_box_icon { OS_BOX_ERROR, OS_BOX_INFO };
// POSIX shows boxes and pages with zenity and xdg-open, looked up on the
// start PATH (os_keep_start_path; absolute entries only) and run with it,
// never on the PATH that os_set_env gave the launcher.
// A message box without owner window; returns when the user closed it.
void os_message_box(const char* text, const char* caption, os_box_icon icon);
// Open a web page in the user's browser; the result is not known.
void os_open_url(const char* url);
