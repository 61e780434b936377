// The platform layer on Windows: the ANSI Win32 calls and flags.
//
//   1. constants      2. streams, counters, threads, locks
//   3. files/folders  4. process facts, environment, cwd
//   5. processes      6. user interface
#include "os/os.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

// ---- 1. constants ------------------------------------------------------------

const char os_path_sep = '\\';
const char os_list_sep = ';';
const char* const os_env_path = "path";
const char* const os_env_classpath = "classpath";
const int os_error_invalid_data = ERROR_INVALID_DATA;

// ---- 2. streams, counters, threads, locks --------------------------------------

int os_stream_fd(FILE* stream)
{
    return _fileno(stream);
}

void os_set_binary(int fd)
{
    _setmode(fd, _O_BINARY);
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

void os_keep_start_path()
{
    // Message boxes and web pages need no program found on the path.
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

intptr_t os_start_process(char* command_line, char* const*, bool detached)
{
    if (os_fault_hit(OS_CALL_START_PROCESS)) return 0;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_SHOWNORMAL;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE,
                        detached ? DETACHED_PROCESS : 0, nullptr, nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hThread);
    return intptr_t(pi.hProcess);
}

void os_wait_process(intptr_t process)
{
    WaitForSingleObject(HANDLE(process), INFINITE);
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
