// The platform layer on Windows: the ANSI Win32 calls and flags.
//
//   1. constants      2. streams, counters, threads, locks
//   3. files/folders  4. process facts, environment, cwd
//   5. processes      6. user interface
//   8. registry
//   9. libraries    10. pipes and the relay
//  11. named objects
#include "os/os.h"
#include "os/os_registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#include <ntsecapi.h>

// ---- 1. constants ------------------------------------------------------------

const char os_path_sep = '\\';
const char os_list_sep = ';';
const char* const os_env_path = "path";
const char* const os_env_classpath = "classpath";
const char* const os_env_library_path = "path";
const int os_error_invalid_data = ERROR_INVALID_DATA;
const int os_error_exists = ERROR_ALREADY_EXISTS;
const int os_error_disk_full = ERROR_DISK_FULL;
const char* const os_java_program = "bin\\java.exe";
const char* const os_splash_library = "splashscreen.dll";
#ifdef _WIN64
const char* const os_dump_export = "JVM_DumpAllStacks";
#else
const char* const os_dump_export = "_JVM_DumpAllStacks@8";
#endif

// ---- 2. streams, counters, threads, locks --------------------------------------

int os_stream_fd(FILE* stream)
{
    return _fileno(stream);
}

void os_set_binary(int fd)
{
    _setmode(fd, _O_BINARY);
}

bool os_console_program()
{
    // The subsystem field of the executable's own header.
    auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

void os_ignore_broken_pipe()
{
    // Windows has no such signal: a write to a closed pipe fails.
}

namespace {

HANDLE saved_stdout_handle = INVALID_HANDLE_VALUE;

// A VM built with another C runtime than ours (a real one uses the UCRT or an
// older msvcr) writes its dump through that runtime's own descriptor 1, which
// our _dup2 and SetStdHandle do not reach: those runtimes take their
// descriptors from the standard handles once, when they are loaded.
#ifdef _UCRT
const char* const own_crt = "ucrtbase.dll";
#else
const char* const own_crt = "msvcrt.dll";
#endif
const char* const foreign_crts[] = {"ucrtbase.dll", "msvcr120.dll", "msvcr110.dll", "msvcr100.dll",
                                    "msvcr90.dll", "msvcr80.dll", "msvcr71.dll", "msvcrt.dll"};
const int foreign_crt_count = int(sizeof foreign_crts / sizeof foreign_crts[0]);

struct foreign_crt {
    int(__cdecl* dup)(int);
    int(__cdecl* dup2)(int, int);
    int(__cdecl* close)(int);
    int(__cdecl* open_handle)(intptr_t, int);
    // What its descriptor 1 was before the dump; -1 when it had none.
    int saved;
    bool redirected;
};
foreign_crt foreign_stdout[foreign_crt_count];

// Points descriptor 1 of every other loaded C runtime at `handle`.
void foreign_stdout_redirect(HANDLE handle)
{
    for (int i = 0; i < foreign_crt_count; i++) {
        foreign_crt& crt = foreign_stdout[i];
        crt.redirected = false;
        if (strcmp(foreign_crts[i], own_crt) == 0) continue;
        HMODULE module = GetModuleHandleA(foreign_crts[i]);
        if (!module) continue;
        crt.dup = reinterpret_cast<int(__cdecl*)(int)>(os_find_symbol(module, "_dup"));
        crt.dup2 = reinterpret_cast<int(__cdecl*)(int, int)>(os_find_symbol(module, "_dup2"));
        crt.close = reinterpret_cast<int(__cdecl*)(int)>(os_find_symbol(module, "_close"));
        crt.open_handle = reinterpret_cast<int(__cdecl*)(intptr_t, int)>(os_find_symbol(module, "_open_osfhandle"));
        if (!crt.dup || !crt.dup2 || !crt.close || !crt.open_handle) continue;
        // The runtime closes what it is given: it gets a handle of its own.
        HANDLE copy;
        if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            continue;
        int fd = crt.open_handle(reinterpret_cast<intptr_t>(copy), _O_BINARY);
        if (fd < 0) {
            CloseHandle(copy);
            continue;
        }
        crt.saved = crt.dup(1);
        if (crt.dup2(fd, 1) == 0) crt.redirected = true;
        crt.close(fd);
        if (!crt.redirected && crt.saved >= 0) crt.close(crt.saved);
    }
}

void foreign_stdout_restore()
{
    for (foreign_crt& crt : foreign_stdout) {
        if (!crt.redirected) continue;
        // Without a descriptor 1 before, it has none after.
        if (crt.saved >= 0) {
            crt.dup2(crt.saved, 1);
            crt.close(crt.saved);
        } else {
            crt.close(1);
        }
        crt.redirected = false;
    }
}

}  // namespace

int os_stdout_redirect(int fd)
{
    fflush(stdout);
    int saved = _dup(1);
    if (saved < 0) return -1;
    if (_dup2(fd, 1) != 0) {
        _close(saved);
        return -1;
    }
    saved_stdout_handle = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    SetStdHandle(STD_OUTPUT_HANDLE, handle);
    foreign_stdout_redirect(handle);
    return saved;
}

void os_stdout_restore(int saved)
{
    if (saved < 0) return;
    fflush(stdout);
    foreign_stdout_restore();
    SetStdHandle(STD_OUTPUT_HANDLE, saved_stdout_handle);
    _dup2(saved, 1);
    _close(saved);
}

int64_t os_counter()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t os_counter_frequency()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

uint32_t os_uptime_ms()
{
    return GetTickCount();
}

uint32_t os_process_id()
{
    return GetCurrentProcessId();
}

int os_process_start(uint32_t pid, uint64_t* start)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return GetLastError() == ERROR_INVALID_PARAMETER ? 0 : -1;
    // A handle someone still holds keeps an ended process's object alive.
    DWORD code = 0;
    FILETIME created, exited, kernel, user;
    int result = -1;
    if (GetExitCodeProcess(process, &code) && code != STILL_ACTIVE)
        result = 0;
    else if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        *start = uint64_t(created.dwHighDateTime) << 32 | created.dwLowDateTime;
        result = 1;
    }
    CloseHandle(process);
    return result;
}

void os_sleep_ms(int ms)
{
    Sleep(DWORD(ms));
}

bool os_random(void* buf, size_t size)
{
    return RtlGenRandom(buf, ULONG(size)) != FALSE;
}

namespace {

DWORD WINAPI thread_trampoline(LPVOID body)
{
    reinterpret_cast<void (*)()>(body)();
    return 0;
}

CRITICAL_SECTION exit_lock;

}  // namespace

void* os_start_thread(void (*body)())
{
    DWORD id;
    return CreateThread(nullptr, 0, thread_trampoline, reinterpret_cast<LPVOID>(body), 0, &id);
}

void os_exit_lock_create()
{
    InitializeCriticalSection(&exit_lock);
}

void os_exit_lock_enter()
{
    EnterCriticalSection(&exit_lock);
}

int os_last_error()
{
    return int(GetLastError());
}

void os_set_last_error(int error)
{
    SetLastError(DWORD(error));
}

// ---- 3. files and folders ----------------------------------------------------

bool os_file_exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool os_is_dir(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool os_create_dir(const char* path)
{
    if (os_fault_hit(OS_CALL_CREATE_DIR)) return false;
    return CreateDirectoryA(path, nullptr) != 0;
}

bool os_remove_dir(const char* path)
{
    return RemoveDirectoryA(path) != 0;
}

bool os_delete_file(const char* path)
{
    if (os_fault_hit(OS_CALL_DELETE_FILE)) return false;
    if (DeleteFileA(path)) return true;
    // A junction or folder link is removed as a folder; its target stays.
    DWORD error = GetLastError();
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return RemoveDirectoryA(path) != 0;
    SetLastError(error);
    return false;
}

struct os_dir {
    HANDLE search;
    WIN32_FIND_DATAA data;
    bool pending;  // data holds an entry not yet handed out
};

os_dir* os_dir_open(const char* folder)
{
    // A junction or link planted where the folder should be is never
    // listed: the search would run through it into its target.
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return nullptr;
    char pattern[MAX_PATH];
    int n = snprintf(pattern, sizeof pattern, "%s\\*", folder);
    if (n < 0 || n >= int(sizeof pattern)) return nullptr;
    os_dir* dir = new os_dir;
    dir->search = FindFirstFileA(pattern, &dir->data);
    if (dir->search == INVALID_HANDLE_VALUE) {
        delete dir;
        return nullptr;
    }
    dir->pending = true;
    return dir;
}

bool os_dir_next(os_dir* dir, char* name, size_t size, os_entry_kind* kind)
{
    for (;;) {
        if (!dir->pending && !FindNextFileA(dir->search, &dir->data)) return false;
        dir->pending = false;
        size_t n = strlen(dir->data.cFileName);
        if (n >= size) continue;
        DWORD attributes = dir->data.dwFileAttributes;
        *kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? OS_ENTRY_LINK
                : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? OS_ENTRY_DIR
                                                            : OS_ENTRY_FILE;
        memcpy(name, dir->data.cFileName, n + 1);
        return true;
    }
}

void os_dir_close(os_dir* dir)
{
    FindClose(dir->search);
    delete dir;
}

struct os_file {
    HANDLE handle;
};

os_file* os_file_create(const char* path)
{
    if (os_fault_hit(OS_CALL_FILE_CREATE)) return nullptr;
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return new os_file{h};
}

os_file* os_file_open_at(const char* path, uint64_t offset)
{
    if (os_fault_hit(OS_CALL_FILE_CREATE)) return nullptr;
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) {
        CloseHandle(h);
        return nullptr;
    }
    return new os_file{h};
}

long os_file_write(os_file* file, const void* data, size_t length)
{
    if (os_fault_hit(OS_CALL_FILE_WRITE)) return -1;
    DWORD written = 0;
    if (!WriteFile(file->handle, data, DWORD(length), &written, nullptr)) return -1;
    return long(written);
}

void os_file_close(os_file* file)
{
    CloseHandle(file->handle);
    delete file;
}

bool os_write_new_file(const char* path, const char* temp, const char* text)
{
    // The temp folder below the user's profile is the user's own already.
    HANDLE h = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD length = DWORD(strlen(text)), written = 0;
    bool done = WriteFile(h, text, length, &written, nullptr) && written == length;
    CloseHandle(h);
    // MoveFileA never replaces an existing file.
    done = done && MoveFileA(temp, path);
    DWORD error = GetLastError();
    if (!done) DeleteFileA(temp);
    SetLastError(error);
    return done;
}

long os_read_file_start(const char* path, char* buf, size_t size)
{
    if (!size) return -1;
    buf[0] = 0;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD n = 0;
    bool plain = GetFileInformationByHandle(h, &info) &&
                 !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    bool done = plain && ReadFile(h, buf, DWORD(size - 1), &n, nullptr);
    CloseHandle(h);
    if (!done) return -1;
    buf[n] = 0;
    return long(n);
}

bool os_own_folder(const char* path, int64_t* age_seconds)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    DWORD attributes = data.dwFileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) { return int64_t(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime); };
    *age_seconds = (ticks(now) - ticks(data.ftLastWriteTime)) / 10000000;
    return true;
}

size_t os_user_cache_path(char* buf, size_t size)
{
    if (size) buf[0] = 0;
    DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", buf, DWORD(size));
    if (n == 0 || n >= size) {
        if (size) buf[0] = 0;
        return 0;
    }
    return size_t(n);
}

bool os_path_safe(const char*)
{
    // The cache lives in the user's own profile.
    return true;
}

os_folder_state os_folder_check(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? OS_FOLDER_MISSING : OS_FOLDER_REFUSED;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? OS_FOLDER_OWN
                                                                                                  : OS_FOLDER_REFUSED;
}

bool os_private_file(const char* path)
{
    // Below the user's own profile: no reparse point is the check there is.
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

namespace {

int64_t filetime_ticks(const FILETIME& t)
{
    return int64_t(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime);
}

}  // namespace

bool os_file_info(const char* path, int64_t* size, int64_t* mtime, int64_t* age_seconds)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    if (size) *size = int64_t(uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
    if (mtime) *mtime = filetime_ticks(data.ftLastWriteTime);
    if (age_seconds) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        *age_seconds = (filetime_ticks(now) - filetime_ticks(data.ftLastWriteTime)) / 10000000;
    }
    return true;
}

bool os_rename(const char* from, const char* to)
{
    return MoveFileA(from, to) != 0;
}

struct os_file_lock {
    HANDLE file;
};

os_file_lock* os_lock_file(const char* path, bool exclusive, bool touch)
{
    // Shared for deleting too: a remover deletes the file while it holds it.
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    OVERLAPPED at = {};
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    bool locked = GetFileInformationByHandle(file, &info) &&
                  !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
                  LockFileEx(file, flags, 0, 1, 0, &at);
    if (locked && touch) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        SetFileTime(file, nullptr, nullptr, &now);
    }
    if (!locked) {
        DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
        return nullptr;
    }
    return new os_file_lock{file};
}

void os_unlock_file(os_file_lock* lock)
{
    if (!lock) return;
    CloseHandle(lock->file);
    delete lock;
}

void os_allow_delete(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path, attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

bool os_replace_file(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

namespace {

// Whether an open file is one of the process's own standard handles.
bool is_standard_handle(const BY_HANDLE_FILE_INFORMATION& file)
{
    static const DWORD standard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (DWORD which : standard) {
        BY_HANDLE_FILE_INFORMATION std_info;
        HANDLE std_handle = GetStdHandle(which);
        if (std_handle && std_handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(std_handle, &std_info) &&
            std_info.dwVolumeSerialNumber == file.dwVolumeSerialNumber &&
            std_info.nFileIndexHigh == file.nFileIndexHigh && std_info.nFileIndexLow == file.nFileIndexLow)
            return true;
    }
    return false;
}

}  // namespace

int os_open_dump_file(const char* path)
{
    // A reparse point is opened itself, never what it points to; a folder
    // does not open without backup semantics. Emptied only once it is known
    // to be a file on a disk (CON is a character device, a pipe a pipe).
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info;
    bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                   !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                   !is_standard_handle(info) && SetEndOfFile(file);
    int fd = regular ? _open_osfhandle(intptr_t(file), _O_BINARY) : -1;
    if (fd < 0) {
        CloseHandle(file);
        SetLastError(ERROR_INVALID_DATA);
    }
    return fd;
}

void os_close_fd(int fd)
{
    _close(fd);
}

int32_t os_map_file(const char* path, os_mapping* mapping)
{
    if (os_fault_hit(OS_CALL_MAP_FILE)) return -1;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    mapping->file = intptr_t(file);
    HANDLE object = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!object) return -1;
    mapping->object = object;
    const void* view = MapViewOfFile(object, FILE_MAP_READ, 0, 0, 0);
    if (!view) return -1;
    mapping->view = view;
    DWORD length = GetFileSize(file, nullptr);
    if (length == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    mapping->view_length = length;
    return int32_t(length);
}

void os_unmap_file(os_mapping* mapping)
{
    if (mapping->view) UnmapViewOfFile(mapping->view);
    mapping->view = nullptr;
    mapping->view_length = 0;
    if (mapping->object) CloseHandle(mapping->object);
    mapping->object = nullptr;
    if (mapping->file != -1) CloseHandle(HANDLE(mapping->file));
    mapping->file = -1;
}

bool os_mapping_read(const os_mapping* mapping, uint64_t offset, void* buf, size_t size)
{
    auto* out = static_cast<unsigned char*>(buf);
    while (size > 0) {
        OVERLAPPED at = {};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD want = size > 0x40000000 ? 0x40000000 : DWORD(size), got = 0;
        if (!ReadFile(HANDLE(mapping->file), out, want, &got, &at) || got == 0) return false;
        out += got;
        offset += got;
        size -= got;
    }
    return true;
}

// ---- 4. process facts, environment, current directory --------------------------

size_t os_module_filename(char* buf, size_t size)
{
    if (size) buf[0] = 0;
    if (os_fault_hit(OS_CALL_MODULE_FILENAME)) return 0;
    DWORD n = GetModuleFileNameA(nullptr, buf, DWORD(size));
    if (n == 0 || n >= size) {  // a cut path names no file
        if (n) SetLastError(ERROR_INSUFFICIENT_BUFFER);
        if (size) buf[0] = 0;
        return 0;
    }
    return n;
}

size_t os_temp_path(char* buf, size_t size)
{
    if (size) buf[0] = 0;
    if (os_fault_hit(OS_CALL_TEMP_PATH)) return 0;
    DWORD n = GetTempPathA(DWORD(size), buf);
    if (n == 0 || n + 1 >= size) {  // room for the trailing separator too
        if (n) SetLastError(ERROR_INSUFFICIENT_BUFFER);
        if (size) buf[0] = 0;
        return 0;
    }
    return n;
}

size_t os_get_env(const char* name, char* buf, size_t size)
{
    if (size) buf[0] = 0;
    DWORD n = GetEnvironmentVariableA(name, buf, DWORD(size));
    if (n >= size && size) buf[0] = 0;
    return n;
}

size_t os_env_size(const char* name)
{
    return GetEnvironmentVariableA(name, nullptr, 0);
}

namespace {

// PATH as the process started with it: the launcher puts the temp folder
// and the executable's folder first later on.
char* start_path = nullptr;
bool start_path_kept = false;

}  // namespace

void os_keep_start_path()
{
    if (start_path_kept) return;
    DWORD n = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (n) {
        start_path = static_cast<char*>(calloc(n, 1));
        if (GetEnvironmentVariableA("PATH", start_path, n) >= n) start_path[0] = 0;
    }
    start_path_kept = true;
}

const char* os_start_path()
{
    if (start_path_kept) return start_path;
    static char current[32768];
    DWORD n = GetEnvironmentVariableA("PATH", current, sizeof current);
    return n && n < sizeof current ? current : nullptr;
}

bool os_set_env(const char* name, const char* value)
{
    if (os_fault_hit(OS_CALL_SET_ENV)) return false;
    return SetEnvironmentVariableA(name, value) != 0;
}

bool os_set_cwd(const char* path)
{
    return SetCurrentDirectoryA(path) != 0;
}

size_t os_full_path(const char* path, char* buf, size_t size)
{
    DWORD n = GetFullPathNameA(path, DWORD(size), buf, nullptr);
    if (n == 0 || n >= size) {
        if (size) buf[0] = 0;
        return 0;
    }
    return n;
}

size_t os_get_cwd(char* buf, size_t size)
{
    DWORD n = GetCurrentDirectoryA(DWORD(size), buf);
    if (n == 0 || n >= size) {
        if (size) buf[0] = 0;
        return 0;
    }
    return n;
}

// ---- 5. processes ------------------------------------------------------------

namespace {
int detached_stdout = -1;
}  // namespace

void os_set_detached_stdout(int fd)
{
    detached_stdout = fd;
}

intptr_t os_start_process(char* command_line, char* const*, bool detached)
{
    if (os_fault_hit(OS_CALL_START_PROCESS)) return 0;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_SHOWNORMAL;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = detached && detached_stdout >= 0 ? HANDLE(_get_osfhandle(detached_stdout))
                                                     : GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE,
                        detached ? DETACHED_PROCESS : 0, nullptr, nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hThread);
    return intptr_t(pi.hProcess);
}

intptr_t os_start_background_process(char* command_line, char* const*)
{
    if (os_fault_hit(OS_CALL_START_PROCESS)) return 0;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE null_device = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr);
    if (null_device == INVALID_HANDLE_VALUE) return 0;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = null_device;
    si.hStdOutput = null_device;
    si.hStdError = null_device;
    PROCESS_INFORMATION pi;
    BOOL started = CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                                  &si, &pi);
    CloseHandle(null_device);
    if (!started) return 0;
    CloseHandle(pi.hThread);
    return intptr_t(pi.hProcess);
}

intptr_t os_start_silent_process(char* command_line, char* const*)
{
    if (os_fault_hit(OS_CALL_START_PROCESS)) return 0;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE null_device = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     OPEN_EXISTING, 0, nullptr);
    if (null_device == INVALID_HANDLE_VALUE) return 0;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = null_device;
    si.hStdError = null_device;
    // The job's handle stays open until this process ends; closing it then
    // ends the program too.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    PROCESS_INFORMATION pi;
    BOOL started = CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
                                  nullptr, nullptr, &si, &pi);
    CloseHandle(null_device);
    if (!started) {
        if (job) CloseHandle(job);
        return 0;
    }
    if (job) AssignProcessToJobObject(job, pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    return intptr_t(pi.hProcess);
}

int os_wait_process(intptr_t process)
{
    DWORD code = 0;
    if (WaitForSingleObject(HANDLE(process), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(HANDLE(process), &code))
        return -1;
    return int(code);
}

int os_wait_process_limited(intptr_t process, uint32_t limit_ms)
{
    if (WaitForSingleObject(HANDLE(process), limit_ms) == WAIT_TIMEOUT) {
        TerminateProcess(HANDLE(process), 1);
        WaitForSingleObject(HANDLE(process), INFINITE);
        return -1;
    }
    return os_wait_process(process);
}

void os_lower_priority()
{
    SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
}

void os_close_process(intptr_t process)
{
    CloseHandle(HANDLE(process));
}

// ---- 6. user interface -------------------------------------------------------

void os_message_box(const char* text, const char* caption, os_box_icon icon)
{
    MessageBoxA(nullptr, text, caption, MB_OK | (icon == OS_BOX_ERROR ? MB_ICONERROR : MB_ICONINFORMATION));
}

void os_open_url(const char* url)
{
    ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
}

void os_allow_foreground(uint32_t pid)
{
    AllowSetForegroundWindow(DWORD(pid));
}

// ---- 8. registry ---------------------------------------------------------------

void* native_reg_open(os_reg_root root, bool view, const char* path)
{
    // The view of our own bitness: what a registered VM library there is
    // built for is what this process can load.
    REGSAM access = KEY_READ | (view ? (sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY) : 0);
    HKEY key;
    if (RegOpenKeyExA(root == OS_REG_USER ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, path, 0, access, &key) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

long native_reg_query(void* key, const char* name, char* buf, size_t size, os_reg_type* type)
{
    DWORD kind;
    DWORD length = DWORD(size);
    // A value that does not fit fails with ERROR_MORE_DATA.
    if (RegQueryValueExA(HKEY(key), name, nullptr, &kind, reinterpret_cast<BYTE*>(buf), &length) != ERROR_SUCCESS)
        return -1;
    *type = kind == REG_SZ ? OS_REG_SZ : kind == REG_EXPAND_SZ ? OS_REG_EXPAND_SZ : OS_REG_OTHER;
    return long(length);
}

bool native_reg_subkey(void* key, uint32_t index, char* name, size_t size)
{
    DWORD length = DWORD(size);
    return RegEnumKeyExA(HKEY(key), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void native_reg_close(void* key)
{
    RegCloseKey(HKEY(key));
}

void os_reg_set_runtime_root(const char*)
{
    // Only the POSIX view of installed runtimes has a folder to list.
}

#define GV_REGISTRY_PLACES(root)                                                                    \
    {OS_PLACE_REGISTRY, "SOFTWARE\\JavaSoft\\JDK", root, "", "RuntimeLib", "JavaHome"},               \
    {OS_PLACE_REGISTRY, "SOFTWARE\\JavaSoft\\JRE", root, "", "RuntimeLib", "JavaHome"},               \
    {OS_PLACE_REGISTRY, "SOFTWARE\\Eclipse Adoptium\\JDK", root, "hotspot\\MSI", nullptr, "Path"},     \
    {OS_PLACE_REGISTRY, "SOFTWARE\\Eclipse Adoptium\\JRE", root, "hotspot\\MSI", nullptr, "Path"},     \
    {OS_PLACE_REGISTRY, "SOFTWARE\\Microsoft\\JDK", root, "hotspot\\MSI", nullptr, "Path"},            \
    {OS_PLACE_REGISTRY, "SOFTWARE\\Semeru\\JDK", root, "openj9\\MSI", nullptr, "Path"},               \
    {OS_PLACE_REGISTRY, "SOFTWARE\\Semeru\\JRE", root, "openj9\\MSI", nullptr, "Path"},               \
    {OS_PLACE_REGISTRY, "SOFTWARE\\Azul Systems\\Zulu", root, "", nullptr, "InstallationPath"},         \
    {OS_PLACE_REGISTRY, "SOFTWARE\\BellSoft\\Liberica", root, "", nullptr, "InstallationPath"}

const os_place native_places[] = {
    GV_REGISTRY_PLACES(OS_REG_MACHINE),
    GV_REGISTRY_PLACES(OS_REG_USER),
    {OS_PLACE_ENV_HOME, "JAVA_HOME", OS_REG_MACHINE, nullptr, nullptr, nullptr},
    {OS_PLACE_PATH_PROGRAM, "java.exe", OS_REG_MACHINE, nullptr, nullptr, nullptr},
};
const size_t native_place_count = sizeof native_places / sizeof native_places[0];

const char* const os_vm_library_names[] = {"bin\\server\\jvm.dll", "bin\\client\\jvm.dll", nullptr};
const os_binary_format os_vm_format = OS_BINARY_PE;
const unsigned os_vm_machine = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;

long os_read_head(const char* path, void* buf, size_t size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    long n = -1;
    if (GetFileType(file) == FILE_TYPE_DISK) {
        size_t got = 0;
        DWORD r = 1;
        bool ok = true;
        while (got < size && r > 0) {
            DWORD want = size - got > 0x10000000 ? 0x10000000 : DWORD(size - got);
            ok = ReadFile(file, static_cast<char*>(buf) + got, want, &r, nullptr) != 0;
            if (!ok) break;
            got += r;
        }
        if (ok) n = long(got);
    }
    CloseHandle(file);
    return n;
}

// ---- 9. libraries ------------------------------------------------------------

void* os_load_library(const char* path)
{
    return reinterpret_cast<void*>(LoadLibraryA(path));
}

void* os_load_library_global(const char* path)
{
    return os_load_library(path);
}

void* os_find_symbol(void* library, const char* name)
{
    return library ? reinterpret_cast<void*>(GetProcAddress(HMODULE(library), name)) : nullptr;
}

namespace {

// SetDllDirectoryA is missing from the oldest systems: looked up, not imported.
typedef BOOL(WINAPI* set_dll_directory_fn)(LPCSTR);

set_dll_directory_fn set_dll_directory()
{
    HMODULE kernel = GetModuleHandleA("kernel32");
    return reinterpret_cast<set_dll_directory_fn>(
        reinterpret_cast<void*>(os_find_symbol(kernel, "SetDllDirectoryA")));
}

}  // namespace

bool os_has_dll_directory()
{
    return set_dll_directory() != nullptr;
}

bool os_set_dll_directory(const char* folder)
{
    set_dll_directory_fn set = set_dll_directory();
    return set && set(folder);
}

size_t os_vm_system_library_path(const char*, char* buf, size_t size)
{
    if (size) buf[0] = 0;
    return 0;
}

long os_codepage_to_utf16(unsigned codepage, const char* text, uint16_t* out, size_t capacity)
{
    int length = int(strlen(text));
    if (length == 0) return 0;
    int n = MultiByteToWideChar(codepage, 0, text, length, reinterpret_cast<wchar_t*>(out),
                                out ? int(capacity) : 0);
    return n > 0 ? long(n) : -1;
}

long os_ansi_to_utf16(const char* text, uint16_t* out, size_t capacity)
{
    if (GetACP() == CP_UTF8) return -1;
    return os_codepage_to_utf16(CP_ACP, text, out, capacity);
}

// ---- 10. pipes and the relay -------------------------------------------------

bool os_pipe_create(intptr_t* read_end, intptr_t* write_end)
{
    HANDLE r, w;
    if (!CreatePipe(&r, &w, nullptr, 1024)) return false;
    *read_end = reinterpret_cast<intptr_t>(r);
    *write_end = reinterpret_cast<intptr_t>(w);
    return true;
}

long os_pipe_available(intptr_t read_end)
{
    DWORD waiting = 0;
    if (!PeekNamedPipe(reinterpret_cast<HANDLE>(read_end), nullptr, 0, nullptr, &waiting, nullptr)) return -1;
    return long(waiting);
}

// os_wake is an auto-reset event's handle.
os_wake* os_wake_create()
{
    return reinterpret_cast<os_wake*>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

void os_wake_signal(os_wake* wake)
{
    SetEvent(reinterpret_cast<HANDLE>(wake));
}

void os_pipe_wait(intptr_t read_end, os_wake* wake, int ms)
{
    // An anonymous pipe has no waitable state: look, then nap briefly.
    DWORD start = GetTickCount();
    while (os_pipe_available(read_end) == 0 && GetTickCount() - start < DWORD(ms)) {
        if (!wake) Sleep(1);
        else if (WaitForSingleObject(reinterpret_cast<HANDLE>(wake), 1) == WAIT_OBJECT_0) return;
    }
}

long os_pipe_read(intptr_t read_end, void* data, size_t size)
{
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(read_end), data, DWORD(size), &got, nullptr)) return -1;
    return long(got);
}

long os_pipe_write(intptr_t write_end, const void* data, size_t size)
{
    DWORD put = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(write_end), data, DWORD(size), &put, nullptr)) return -1;
    return long(put);
}

bool os_stdout_to_pipe(intptr_t write_end)
{
    int fd = _open_osfhandle(write_end, 0);
    if (fd <= 0) return false;
    FILE* stream = _fdopen(fd, "wb");
    if (!stream) return false;
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(write_end));
    fflush(stdout);
#ifdef _UCRT
    // The UCRT's FILE is opaque: the stream keeps its record and gets the
    // pipe's descriptor instead.
    _dup2(fd, _fileno(stdout));
#else
    *stdout = *stream;
#endif
    setvbuf(stdout, nullptr, _IONBF, 0);
    _dup2(_fileno(stdout), 1);
    return true;
}

void os_stderr_handle_to_stdout()
{
    SetStdHandle(STD_ERROR_HANDLE, GetStdHandle(STD_OUTPUT_HANDLE));
}

int os_dup(int fd)
{
    return _dup(fd);
}

bool os_dup2(int from, int to)
{
    return _dup2(from, to) == 0;
}

long os_fd_write(int fd, const void* data, size_t length)
{
    return _write(fd, data, unsigned(length));
}

void os_set_thread_priority(os_priority priority)
{
    static const int level_of[] = {THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_HIGHEST,
                                   THREAD_PRIORITY_TIME_CRITICAL};
    SetThreadPriority(GetCurrentThread(), level_of[priority]);
}

// ---- 11. named objects -------------------------------------------------------

bool os_private_folder(const char*)
{
    return false;
}

size_t os_channel_folder(char* buf, size_t size)
{
    if (size) buf[0] = 0;
    return 0;
}

const char* const os_shared_name_format = "Local\\glimvane-mem-%s";
const char* const os_lock_name_format = "glimvane-lock-%s";
const char* const os_start_event_name_format = "glimvane-start-event-%s";
const char* const os_end_event_name_format = "glimvane-end-event-%s";
const char* const os_client_lock_name_format = "glimvane-client-lock-%s";

// The view of a mapping backed by the paging file: its size never changes.
struct os_shared {
    char* view;
    size_t size;
};

os_shared* os_shared_create(const char* name, size_t size, bool* existed)
{
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(size), name);
    *existed = mapping && GetLastError() == ERROR_ALREADY_EXISTS;
    if (!mapping || *existed) {
        if (mapping) CloseHandle(mapping);
        return nullptr;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    return view ? new os_shared{static_cast<char*>(view), size} : nullptr;
}

os_shared* os_shared_open(const char* name, size_t size)
{
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!mapping) return nullptr;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    CloseHandle(mapping);  // the view keeps the mapping alive
    return view ? new os_shared{static_cast<char*>(view), size} : nullptr;
}

bool os_shared_read(os_shared* block, size_t offset, void* buf, size_t size)
{
    if (offset > block->size || size > block->size - offset) return false;
    memcpy(buf, block->view + offset, size);
    return true;
}

bool os_shared_write(os_shared* block, size_t offset, const void* data, size_t size)
{
    if (offset > block->size || size > block->size - offset) return false;
    memcpy(block->view + offset, data, size);
    return true;
}

void os_shared_close(os_shared* block)
{
    UnmapViewOfFile(block->view);
    delete block;
}

os_shared_state os_shared_state_of(const char* name)
{
    // A named object ends with the last process that holds it.
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    if (!mapping) return OS_SHARED_ENDED;
    CloseHandle(mapping);
    return OS_SHARED_LIVE;
}

void os_shared_remove(const char*)
{
}

void os_sync_remove(const char*)
{
}

// os_sync is the kernel object's handle itself.
os_sync* os_lock_create(const char* name)
{
    return reinterpret_cast<os_sync*>(CreateMutexA(nullptr, FALSE, name));
}

os_sync* os_event_create(const char* name)
{
    return reinterpret_cast<os_sync*>(CreateEventA(nullptr, FALSE, FALSE, name));
}

os_sync* os_lock_open(const char* name)
{
    return reinterpret_cast<os_sync*>(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
}

os_sync* os_event_open(const char* name)
{
    return reinterpret_cast<os_sync*>(OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name));
}

bool os_sync_wait(os_sync* object, int ms)
{
    DWORD result = WaitForSingleObject(reinterpret_cast<HANDLE>(object), ms < 0 ? INFINITE : DWORD(ms));
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void os_lock_release(os_sync* lock)
{
    ReleaseMutex(reinterpret_cast<HANDLE>(lock));
}

void os_event_set(os_sync* event)
{
    SetEvent(reinterpret_cast<HANDLE>(event));
}
