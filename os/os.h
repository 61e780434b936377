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
//   8. registry (read-only; a view of installed runtimes on POSIX) and the
//      further places of runtimes
//   9. libraries
//  10. pipes and the output relay
//  11. named objects (the control channel)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---- 1. per-OS constants ---------------------------------------------------

extern const char os_path_sep;        // '\\' on Windows, '/' on POSIX
extern const char os_list_sep;        // ';' on Windows, ':' on POSIX
extern const char* const os_env_path;      // "path" / "PATH"
extern const char* const os_env_classpath; // "classpath" / "CLASSPATH"
// The variable whose folders follow the launcher's own in the library path:
// "path" on Windows, "LD_LIBRARY_PATH" on POSIX (where the VM adds its
// system folders after it, see os_vm_system_library_path).
extern const char* const os_env_library_path;
// Last error for input the core refuses itself (ERROR_INVALID_DATA / EINVAL).
extern const int os_error_invalid_data;
// Last error of a create call whose name exists already (ERROR_ALREADY_EXISTS / EEXIST).
extern const int os_error_exists;
// Last error for a write that took fewer bytes than it was given, which the
// system does not report (ERROR_DISK_FULL / ENOSPC).
extern const int os_error_disk_full;
// The VM library's thread dump export: "_JVM_DumpAllStacks@8" on 32-bit
// Windows (stdcall decoration), "JVM_DumpAllStacks" elsewhere.
extern const char* const os_dump_export;
// A runtime's own launcher below its home: "bin\\java.exe" / "bin/java".
extern const char* const os_java_program;
// A runtime's splash screen library, beside the folder of its VM library's
// folder: "splashscreen.dll" (in bin) / "libsplashscreen.so" (in lib).
extern const char* const os_splash_library;

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
// True for a program of the console subsystem (every POSIX program; on
// Windows the -console stubs), false for a windowed one.
bool os_console_program();
// A write to a pipe whose reader has gone fails with an error instead of
// ending the process (POSIX SIGPIPE; a no-op on Windows). Children start
// with the system's default again.
void os_ignore_broken_pipe();
// Points descriptor 1 (and on Windows the standard output handle) at `fd`
// until os_stdout_restore; returns what to restore, -1 when nothing changed.
int os_stdout_redirect(int fd);
void os_stdout_restore(int saved);

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
// Fills buf with unpredictable bytes from the system; false when it has none.
bool os_random(void* buf, size_t size);

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
// The file opened for writing at `offset`, created when missing and never
// truncated: threads write the pieces of one file side by side, each
// through a handle of its own.
os_file* os_file_open_at(const char* path, uint64_t offset);
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
// Lets a read-only file be deleted or replaced: Windows refuses both for
// one, POSIX only asks about its folder (a no-op there).
void os_allow_delete(const char* path);
// Renames a file, replacing one at `to` as one step; false on failure.
bool os_replace_file(const char* from, const char* to);
// True when `path` itself (not a link or reparse point) is a folder that
// belongs to this user (POSIX; on Windows the temp path is the user's own);
// age_seconds is the time since its entries last changed.
bool os_own_folder(const char* path, int64_t* age_seconds);

// The extraction cache. The user's cache folder into buf: $XDG_CACHE_HOME
// when it is an absolute path, else $HOME/.cache (POSIX); %LOCALAPPDATA%
// (Windows). Its length, 0 when there is none or it does not fit.
size_t os_user_cache_path(char* buf, size_t size);
// True when no other account can change what `path` names: every folder on
// the way to it and itself, links followed, belongs to this user or root and
// is writable by group or others only with the sticky bit (as /tmp), and
// every link on the way is this user's or root's. False for a missing name.
// Always true on Windows, where the cache is in the user's profile.
bool os_path_safe(const char* path);
// What `path` itself is, never through a link: missing, a folder of this
// user (POSIX: owned by the effective user; Windows: a folder that is no
// reparse point, the profile being the user's own), such a folder that
// group or others may write (POSIX), or anything else (a link, a reparse
// point, a file, another user's folder).
enum os_folder_state { OS_FOLDER_MISSING, OS_FOLDER_OWN, OS_FOLDER_OPEN, OS_FOLDER_REFUSED };
// True when `path` itself is a regular file of this user that no one else
// may write (POSIX: owned by the effective user, without group or other
// write permission; Windows: no reparse point), never through a link.
bool os_private_file(const char* path);
os_folder_state os_folder_check(const char* path);
// Size and modification time (in the system's own units) of a regular file,
// never through a link, and the seconds since that time (any may be null);
// false for anything else.
bool os_file_info(const char* path, int64_t* size, int64_t* mtime, int64_t* age_seconds);
// Renames a file or folder; false when `to` exists already or the rename fails.
bool os_rename(const char* from, const char* to);
// A lock file, opened (created, private to this user, when missing; never
// through a link) and locked shared or exclusive without waiting; with
// `touch` its modification time becomes now. Null when it cannot be opened
// or is locked the other way. The lock lasts until os_unlock_file or the
// end of the process.
struct os_file_lock;
os_file_lock* os_lock_file(const char* path, bool exclusive, bool touch);
void os_unlock_file(os_file_lock* lock);

// Opens the file of a stack dump for writing, emptied, and returns its
// descriptor; -1 with the last error set when it cannot be opened or is not
// a place for a dump. Never follows a link (or reparse point) in the last
// part of the path and never blocks: it refuses anything that is not a
// regular file once opened (FIFOs, devices, sockets, consoles, folders), the
// process's own standard streams (/dev/stdout, /proc/self/fd/N, CON) and,
// on POSIX, a file of another user.
int os_open_dump_file(const char* path);
// Closes a descriptor.
void os_close_fd(int fd);

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
// Reads `size` bytes at `offset` of the mapped file through its handle, not
// through the view; false unless all of them were read.
bool os_mapping_read(const os_mapping* mapping, uint64_t offset, void* buf, size_t size);

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
// `path` made absolute against the current directory, without asking
// whether it exists (GetFullPathNameA, which also turns '/' into '\'; on
// POSIX the current directory and '/' before a relative path) into buf;
// its length, 0 on failure or when it does not fit.
size_t os_full_path(const char* path, char* buf, size_t size);
// Current directory into buf; its length, 0 on failure or when it does not fit.
size_t os_get_cwd(char* buf, size_t size);

// ---- 6. processes ----------------------------------------------------------

// Start a program. Windows uses command_line (its first word names the
// program); POSIX spawns words[0] with words as argv. A detached process
// runs in a session of its own (no console on Windows). Returns a process
// handle, or 0 when the start failed.
intptr_t os_start_process(char* command_line, char* const* words, bool detached);
// The standard output that detached programs get: a descriptor of the
// console, or -1 (the default) for the process's own. The relay's pipe dies
// with this process, and a detached program such as the removal child
// outlives it.
void os_set_detached_stdout(int fd);
// Starts a program as os_start_process does, not detached, with its
// standard output and error sent to the null device (no console window on
// Windows); 0 when it did not start.
// Starts a program detached, as os_start_process does, with its standard
// input, output and error on the null device: it may outlive the caller
// and holds no pipe of the caller's open.
intptr_t os_start_background_process(char* command_line, char* const* words);
// The program ends when the calling process ends, however it ends (Linux:
// killed with its parent; Windows: in a job closed with the caller).
intptr_t os_start_silent_process(char* command_line, char* const* words);
// Waits for the program to end; its exit status, -1 when it did not exit
// (killed by a signal).
int os_wait_process(intptr_t process);
// As os_wait_process for at most `limit_ms`; a program still running then
// is killed, and the result is -1.
int os_wait_process_limited(intptr_t process, uint32_t limit_ms);
// This process and every program it starts from now on run at the lowest
// priority the system offers an ordinary user.
void os_lower_priority();
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
// Lets process `pid` bring its window to the front when it asks, as this
// process may (AllowSetForegroundWindow); a no-op on POSIX, where the
// window system decides.
void os_allow_foreground(uint32_t pid);

// ---- 8. registry -----------------------------------------------------------

// Keys below HKEY_LOCAL_MACHINE, opened read-only; paths are '\'-separated.
// On POSIX a view of the installed runtimes stands in: only os_runtime_key
// and its per-version subkeys exist there (see os_posix.cpp).
const char* const os_runtime_key = "SOFTWARE\\JavaSoft\\Java Runtime Environment\\";
const char* const os_value_current_version = "CurrentVersion";
const char* const os_value_runtime_lib = "RuntimeLib";

enum os_reg_type { OS_REG_SZ, OS_REG_EXPAND_SZ, OS_REG_OTHER };
struct os_reg_key;
// Null when the key does not exist or cannot be opened for reading.
os_reg_key* os_reg_open(const char* path);
// Reads a value into buf as stored (not always NUL-terminated); the number
// of bytes stored, or -1 when the value is missing or does not fit `size`.
long os_reg_query(os_reg_key* key, const char* name, char* buf, size_t size, os_reg_type* type);
// Name of the subkey at `index` into buf (size characters, NUL included);
// false when there is none or it does not fit.
bool os_reg_subkey(os_reg_key* key, uint32_t index, char* name, size_t size);
void os_reg_close(os_reg_key* key);

// The two roots that the further places of runtimes are read from. There a
// key is opened read-only in the registry view of the stub's own bitness
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY), so a 32-bit stub on 64-bit Windows
// sees the 32-bit runtimes' keys. POSIX has neither: no such key opens.
enum os_reg_root { OS_REG_MACHINE, OS_REG_USER };
os_reg_key* os_reg_open_view(os_reg_root root, const char* path);

// Tests only. A fake registry replaces the real one until removed: keys,
// values and subkeys (enumerated in the order added), below HKLM unless the
// root says otherwise. It keeps the pointers it is given, which must live
// until os_reg_fake_remove.
void os_reg_fake_install();
void os_reg_fake_value(const char* key, const char* name, const char* data, size_t length, os_reg_type type,
                       os_reg_root root = OS_REG_MACHINE);
void os_reg_fake_subkey(const char* key, const char* name, os_reg_root root = OS_REG_MACHINE);
void os_reg_fake_remove();
// Tests only, POSIX: the folder the view lists instead of /usr/lib/jvm
// (null restores it). No effect on Windows.
void os_reg_set_runtime_root(const char* folder);

// The further places where runtimes are looked for when the registered ones
// give none inside the version window, in the order they are looked at:
//  - OS_PLACE_REGISTRY: each subkey of `where` below `root` (opened with
//    os_reg_open_view) is one runtime; below it the key `sub` ("" for the
//    subkey itself) holds the value `lib_value` (the VM library) and/or
//    `home_value` (the runtime's home folder), either may be null;
//  - OS_PLACE_ENV_HOME: the environment variable `where` names a home;
//  - OS_PLACE_PATH_PROGRAM: the first folder of the start PATH that holds
//    the program `where` is the home's bin folder;
//  - OS_PLACE_HOMES: every folder in the folder `where` is a home ("~/" at
//    its start stands for $HOME).
// Windows: HKLM's keys, then HKCU's, then JAVA_HOME, then java.exe on PATH.
// POSIX: ~/.sdkman/candidates/java, ~/.jdks, /opt and /usr/java.
enum os_place_kind { OS_PLACE_REGISTRY, OS_PLACE_ENV_HOME, OS_PLACE_PATH_PROGRAM, OS_PLACE_HOMES };
struct os_place {
    os_place_kind kind;
    const char* where;
    os_reg_root root;
    const char* sub;
    const char* lib_value;
    const char* home_value;
};
const os_place* os_runtime_places(size_t* count);
// Tests only: these places instead of the system's (null restores them).
void os_runtime_places_fake(const os_place* places, size_t count);

// The VM library below a runtime home, in the order tried (null-terminated):
// bin\server\jvm.dll and bin\client\jvm.dll; lib/server/libjvm.so.
extern const char* const os_vm_library_names[];
// What a VM library must be to load into this process: its file format and
// machine (IMAGE_FILE_MACHINE_I386 / _AMD64, or ELF's EM_X86_64).
enum os_binary_format { OS_BINARY_PE, OS_BINARY_ELF };
extern const os_binary_format os_vm_format;
extern const unsigned os_vm_machine;

// The JAVA_VERSION of a runtime home's `release` file, quotes stripped, into
// version (size bytes); false when there is no such regular file, when the
// line is not within its first 64 KiB, or when the value is empty, does not
// fit, or holds a quote, a '\' or a control character.
bool os_release_version(const char* home, char* version, size_t size);
// Up to `size` bytes from the start of a regular file (never a device or a
// pipe, which could block); the number read, -1 when it cannot be read.
long os_read_head(const char* path, void* buf, size_t size);
// PATH as it was when os_keep_start_path ran (the current one before), or
// null when it was unset.
const char* os_start_path();

// The folders that the VM library adds to java.library.path after the
// folders of os_env_library_path, as java itself gets them, into buf (read
// from the library's own read-only data on POSIX, with HotSpot's default
// when it holds none); its length. 0 on Windows, where the path variable
// stands for them.
size_t os_vm_system_library_path(const char* vm_library, char* buf, size_t size);

// ---- 9. libraries ----------------------------------------------------------

// Load a library by path (LoadLibraryA / dlopen RTLD_NOW); null on failure,
// also for what would hang or crash the loader (POSIX: a FIFO, a device,
// an ELF file shorter than its segments).
void* os_load_library(const char* path);
// The same for a library whose exports the libraries loaded after it may
// look up as the process's own (RTLD_GLOBAL; on Windows every module's
// exports can be found by its name anyway).
void* os_load_library_global(const char* path);
// Address of an exported symbol; null when missing or library is null.
void* os_find_symbol(void* library, const char* name);
// True when the system has a DLL search folder to set (SetDllDirectoryA in
// kernel32, looked up at run time); never on POSIX.
bool os_has_dll_directory();
// Set the DLL search folder, or with null restore the standard search
// order; false when there is none to set or the call fails.
bool os_set_dll_directory(const char* folder);

// A launcher text in the system's ANSI code page as UTF-16 into out (room
// for `capacity` units; with null out only counted): the number of units,
// no terminating NUL. -1 where texts are UTF-8 already (POSIX, or Windows
// whose ANSI code page is 65001), so that they go to the VM as they are.
long os_ansi_to_utf16(const char* text, uint16_t* out, size_t capacity);
// The same conversion from a given code page (tests of the conversion).
long os_codepage_to_utf16(unsigned codepage, const char* text, uint16_t* out, size_t capacity);

// ---- 10. pipes and the output relay ------------------------------------------

// An anonymous pipe whose ends no child inherits (1024-byte buffer asked
// for on Windows). False when it cannot be made.
bool os_pipe_create(intptr_t* read_end, intptr_t* write_end);
// Bytes waiting in the pipe, -1 when the pipe cannot be asked.
long os_pipe_available(intptr_t read_end);
// Lets another thread end an os_pipe_wait early.
struct os_wake;
// Null when it cannot be made (waits then run to their time).
os_wake* os_wake_create();
void os_wake_signal(os_wake* wake);
// Returns once bytes are waiting, the wake (may be null) is signalled, or
// after about `ms` milliseconds.
void os_pipe_wait(intptr_t read_end, os_wake* wake, int ms);
// One read of at most `size` bytes; blocks while the pipe is empty. The
// number read, 0 or -1 on failure.
long os_pipe_read(intptr_t read_end, void* data, size_t size);
// One write of `size` bytes (whole when it is at most 512: no other write
// comes between them); the number written, -1 on failure.
long os_pipe_write(intptr_t write_end, const void* data, size_t size);
// Makes the pipe's write end the process's standard output: the standard
// handle, descriptor 1 and the C runtime's stdout stream, unbuffered. False,
// with standard output unchanged, when the end cannot become a stream.
bool os_stdout_to_pipe(intptr_t write_end);
// The process's standard error handle becomes its standard output handle
// (Windows); POSIX has no handles beside the descriptors.
void os_stderr_handle_to_stdout();

// A duplicate of a descriptor that no child inherits; -1 on failure.
int os_dup(int fd);
// Makes `to` refer to what `from` refers to; false on failure.
bool os_dup2(int from, int to);
// One write call on a descriptor: bytes written, -1 on failure.
long os_fd_write(int fd, const void* data, size_t length);

// Priority of the calling thread. POSIX maps the levels to nice values
// and keeps the old one when the system refuses a raise.
enum os_priority { OS_PRIORITY_NORMAL, OS_PRIORITY_HIGHEST, OS_PRIORITY_TIME_CRITICAL };
void os_set_thread_priority(os_priority priority);

// ---- 11. named objects (the control channel) ------------------------------------

// POSIX keeps the named objects as files in a folder that only this user can
// reach, so that no other account can create, open or list them (Windows
// names them in the session's own namespace, "Local\..."). Makes `path`
// such a folder when it is missing (mode 0700); true when it then is a folder
// itself (no link), owned by the effective user, with no access for group or
// others. Always false on Windows, which needs no such folder.
bool os_private_folder(const char* path);
// This user's folder of named objects into buf (POSIX), made and checked
// with os_private_folder: $XDG_RUNTIME_DIR/glimvane when XDG_RUNTIME_DIR is a
// folder of this user's alone, else "glimvane-channels" in the user's state
// folder ($XDG_STATE_HOME, or $HOME/.local/state, made when missing). Its
// length; 0 when there is none, and always on Windows.
size_t os_channel_folder(char* buf, size_t size);

// Name formats, filled with a run id: the shared block, its lock, the two
// events and the lock that serialises clients ("Local\glimvane-mem-%s"... on
// Windows; names in os_channel_folder on POSIX).
extern const char* const os_shared_name_format;
extern const char* const os_lock_name_format;
extern const char* const os_start_event_name_format;
extern const char* const os_end_event_name_format;
extern const char* const os_client_lock_name_format;

// A shared block of bytes. POSIX: a file of this user read and written by
// offset, so that a block someone shrank gives a failed copy, never a crash.
struct os_shared;
// Creates a block of `size` zero bytes; null when it cannot be made, or when
// a block of that name existed already (then *existed is true). POSIX removes
// the names it created at exit.
os_shared* os_shared_create(const char* name, size_t size, bool* existed);
// Opens an existing block; null when there is none, or when it is not
// exactly what a launcher of this user makes (POSIX: a regular file owned by
// the effective user, of `size` bytes, never through a link).
os_shared* os_shared_open(const char* name, size_t size);
// Copies `size` bytes at `offset` out of or into the block; false unless the
// block still holds all of them.
bool os_shared_read(os_shared* block, size_t offset, void* buf, size_t size);
bool os_shared_write(os_shared* block, size_t offset, const void* data, size_t size);
// Lets the block go. A client holds it only while it copies: a Windows name
// lives while any process holds it, and then the creator's end goes unseen.
void os_shared_close(os_shared* block);
// Whether the process that created the block still holds it: live, ended
// (the name is gone: it ended and removed its names), or left behind by a
// process that ended without removing it (POSIX names outlive a killed
// process; Windows ones end with it, so Windows never reports that).
enum os_shared_state { OS_SHARED_LIVE, OS_SHARED_ENDED, OS_SHARED_LEFT };
os_shared_state os_shared_state_of(const char* name);
// Removes a name left behind by an ended process (no-ops on Windows).
void os_shared_remove(const char* name);
void os_sync_remove(const char* name);

// A named lock (a mutex, not owned) or auto-reset event (not set).
struct os_sync;
os_sync* os_lock_create(const char* name);
os_sync* os_event_create(const char* name);
// Opens an existing one; null when there is none (POSIX: or it is not of
// this user, or not of its kind).
os_sync* os_lock_open(const char* name);
os_sync* os_event_open(const char* name);
// Waits for the lock or event; `ms` < 0 waits without limit. False on
// timeout or failure. A lock whose holder died is granted (an abandoned
// Windows mutex; POSIX locks end with their holder), and a lock is held by
// one at most.
bool os_sync_wait(os_sync* object, int ms);
void os_lock_release(os_sync* lock);
// Sets the event; one waiter takes it, a set event stays set once.
void os_event_set(os_sync* event);
