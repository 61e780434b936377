// The platform layer on POSIX (linux-x64).
//
//   1. constants      2. streams, counters, threads, locks
//   3. files/folders  4. process facts, environment, cwd
//   5. processes      6. user interface
//   8. registry
//   9. libraries    10. pipes and the relay
//  11. named objects
#include "os/os.h"
#include "os/os_registry.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// ---- 1. constants ------------------------------------------------------------

const char os_path_sep = '/';
const char os_list_sep = ':';
const char* const os_env_path = "PATH";
const char* const os_env_classpath = "CLASSPATH";
const char* const os_env_library_path = "LD_LIBRARY_PATH";
const int os_error_invalid_data = EINVAL;
const int os_error_exists = EEXIST;
const int os_error_disk_full = ENOSPC;
const char* const os_dump_export = "JVM_DumpAllStacks";
const char* const os_java_program = "bin/java";
const char* const os_splash_library = "libsplashscreen.so";

// ---- 2. streams, counters, threads, locks --------------------------------------

int os_stream_fd(FILE* stream)
{
    return fileno(stream);
}

void os_set_binary(int)
{
    // POSIX streams never translate line ends.
}

bool os_console_program()
{
    return true;
}

namespace {

void broken_pipe(int) {}

}  // namespace

void os_ignore_broken_pipe()
{
    // A handler that does nothing rather than SIG_IGN: exec resets a handler
    // to the default, so the removal child, zenity and xdg-open start as
    // they would from a shell. The VM installs its own handling later.
    struct sigaction action = {};
    action.sa_handler = broken_pipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGPIPE, &action, nullptr);
}

int os_stdout_redirect(int fd)
{
    fflush(stdout);
    int saved = fcntl(1, F_DUPFD_CLOEXEC, 0);
    if (saved < 0) return -1;
    if (dup2(fd, 1) < 0) {
        close(saved);
        return -1;
    }
    return saved;
}

void os_stdout_restore(int saved)
{
    if (saved < 0) return;
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
}

// Microseconds: (now - start) * 1000 then stays far from the 64-bit limit.
int64_t os_counter()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

int64_t os_counter_frequency()
{
    return 1000000;
}

uint32_t os_uptime_ms()
{
    timespec t;
    clock_gettime(CLOCK_BOOTTIME, &t);
    return uint32_t(uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000);
}

uint32_t os_process_id()
{
    return uint32_t(getpid());
}

int os_process_start(uint32_t pid, uint64_t* start)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%u/stat", pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 0 : -1;
    char text[1024];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return n == 0 || errno == ESRCH ? 0 : -1;
    text[n] = 0;
    // The name in parentheses may hold blanks and ')': fields count from
    // the last ')'. Field 3 is the state, field 22 the start time.
    const char* rest = strrchr(text, ')');
    if (!rest) return -1;
    char state = 0;
    unsigned long long ticks = 0;
    if (sscanf(rest + 1, " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu",
               &state, &ticks) != 2)
        return -1;
    // A zombie has ended; only its parent has not read its status yet.
    if (state == 'Z' || state == 'X') return 0;
    *start = ticks;
    return 1;
}

void os_sleep_ms(int ms)
{
    timespec t{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

bool os_random(void* buf, size_t size)
{
    auto* bytes = static_cast<unsigned char*>(buf);
    while (size > 0) {
        ssize_t n = getrandom(bytes, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

namespace {

void* thread_trampoline(void* body)
{
    reinterpret_cast<void (*)()>(body)();
    return nullptr;
}

pthread_mutex_t exit_lock;

}  // namespace

void* os_start_thread(void (*body)())
{
    pthread_t thread;
    if (pthread_create(&thread, nullptr, thread_trampoline, reinterpret_cast<void*>(body)) != 0)
        return nullptr;
    pthread_detach(thread);
    return reinterpret_cast<void*>(thread);
}

void os_exit_lock_create()
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&exit_lock, &attr);
    pthread_mutexattr_destroy(&attr);
}

void os_exit_lock_enter()
{
    pthread_mutex_lock(&exit_lock);
}

int os_last_error()
{
    return errno;
}

void os_set_last_error(int error)
{
    errno = error;
}

// ---- 3. files and folders ----------------------------------------------------

bool os_file_exists(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

bool os_is_dir(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool os_create_dir(const char* path)
{
    if (os_fault_hit(OS_CALL_CREATE_DIR)) return false;
    return mkdir(path, 0700) == 0;
}

bool os_remove_dir(const char* path)
{
    return rmdir(path) == 0;
}

bool os_delete_file(const char* path)
{
    if (os_fault_hit(OS_CALL_DELETE_FILE)) return false;
    return unlink(path) == 0;
}

void os_allow_delete(const char*) {}

bool os_replace_file(const char* from, const char* to)
{
    return rename(from, to) == 0;
}

struct os_dir {
    DIR* dir;
};

os_dir* os_dir_open(const char* folder)
{
    // A link planted where the folder should be is never listed: in a temp
    // folder shared by all users anyone can plant one under a run's name.
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        return nullptr;
    }
    return new os_dir{d};
}

bool os_dir_next(os_dir* dir, char* name, size_t size, os_entry_kind* kind)
{
    while (dirent* e = readdir(dir->dir)) {
        size_t n = strlen(e->d_name);
        if (n >= size) continue;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(dirfd(dir->dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        *kind = type == DT_DIR ? OS_ENTRY_DIR : type == DT_LNK ? OS_ENTRY_LINK : OS_ENTRY_FILE;
        memcpy(name, e->d_name, n + 1);
        return true;
    }
    return false;
}

void os_dir_close(os_dir* dir)
{
    closedir(dir->dir);
    delete dir;
}

struct os_file {
    int fd;
};

os_file* os_file_create(const char* path)
{
    if (os_fault_hit(OS_CALL_FILE_CREATE)) return nullptr;
    // Executable, so that an installer written here can be run.
    int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
    if (fd < 0) return nullptr;
    return new os_file{fd};
}

os_file* os_file_open_at(const char* path, uint64_t offset)
{
    if (os_fault_hit(OS_CALL_FILE_CREATE)) return nullptr;
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0700);
    if (fd < 0) return nullptr;
    if (lseek(fd, off_t(offset), SEEK_SET) != off_t(offset)) {
        close(fd);
        return nullptr;
    }
    return new os_file{fd};
}

long os_file_write(os_file* file, const void* data, size_t length)
{
    if (os_fault_hit(OS_CALL_FILE_WRITE)) return -1;
    return long(write(file->fd, data, length));
}

void os_file_close(os_file* file)
{
    close(file->fd);
    delete file;
}

bool os_write_new_file(const char* path, const char* temp, const char* text)
{
    size_t length = strlen(text);
    char folder[4096] = ".";
    if (const char* slash = strrchr(path, '/'))
        snprintf(folder, sizeof folder, "%.*s", int(slash - path + 1), path);
    // Nameless first, linked under its name once complete (Linux); where the
    // file system cannot do that, a temp name renamed without replacing.
    int fd = open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        char self[64];
        snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        bool done = write(fd, text, length) == ssize_t(length) &&
                    linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
        int error = errno;
        close(fd);
        errno = error;
        return done;
    }
    fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool done = write(fd, text, length) == ssize_t(length);
    close(fd);
    // link() refuses an existing name where rename() would replace it.
    done = done && link(temp, path) == 0;
    int error = errno;
    unlink(temp);
    errno = error;
    return done;
}

long os_read_file_start(const char* path, char* buf, size_t size)
{
    if (!size) return -1;
    buf[0] = 0;
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, buf, size - 1) : -1;
    close(fd);
    if (n < 0) return -1;
    buf[n] = 0;
    return long(n);
}

bool os_own_folder(const char* path, int64_t* age_seconds)
{
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool own = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
    close(fd);
    if (own) *age_seconds = int64_t(time(nullptr)) - int64_t(st.st_mtime);
    return own;
}

size_t os_user_cache_path(char* buf, size_t size)
{
    if (size) buf[0] = 0;
    const char* xdg = getenv("XDG_CACHE_HOME");
    const char* home = getenv("HOME");
    int n;
    // A relative XDG_CACHE_HOME is invalid and ignored.
    if (xdg && xdg[0] == '/')
        n = snprintf(buf, size, "%s", xdg);
    else if (home && home[0] == '/')
        n = snprintf(buf, size, "%s/.cache", home);
    else
        return 0;
    if (n <= 0 || size_t(n) >= size) {
        if (size) buf[0] = 0;
        return 0;
    }
    return size_t(n);
}

namespace {

// A folder or link on the way to a cache that no other account can change:
// this user's or root's, and a folder that group or others may write only
// with the sticky bit (as /tmp), where no one can rename another's names.
bool unchangeable_by_others(const struct stat& st)
{
    if (st.st_uid != geteuid() && st.st_uid != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;
    return S_ISDIR(st.st_mode) && (!(st.st_mode & (S_IWGRP | S_IWOTH)) || (st.st_mode & S_ISVTX));
}

}  // namespace

bool os_path_safe(const char* path)
{
    // Resolved by hand, one name at a time, so that every folder reached
    // and every link on the way is looked at, those inside link targets too.
    char done[PATH_MAX];
    char rest[PATH_MAX];
    char target[PATH_MAX];
    struct stat st;
    if (path[0] != '/' || strlen(path) >= sizeof rest || lstat("/", &st) != 0 || !unchangeable_by_others(st))
        return false;
    done[0] = 0;
    strcpy(rest, path);
    int links = 0;
    size_t at = 0;
    for (;;) {
        while (rest[at] == '/') at++;
        if (!rest[at]) return true;
        size_t end = at;
        while (rest[end] && rest[end] != '/') end++;
        size_t length = end - at;
        if (length == 1 && rest[at] == '.') {
            at = end;
            continue;
        }
        if (length == 2 && rest[at] == '.' && rest[at + 1] == '.') {
            // `done` holds folders only: its parent is its last name cut off.
            if (char* slash = strrchr(done, '/')) *slash = 0;
            at = end;
            continue;
        }
        size_t done_length = strlen(done);
        if (done_length + 1 + length >= sizeof done) return false;
        done[done_length] = '/';
        memcpy(done + done_length + 1, rest + at, length);
        done[done_length + 1 + length] = 0;
        if (lstat(done, &st) != 0 || !unchangeable_by_others(st)) return false;
        if (!S_ISLNK(st.st_mode)) {
            at = end;
            continue;
        }
        if (++links > 40) return false;
        ssize_t n = readlink(done, target, sizeof target - 1);
        if (n <= 0) return false;
        target[n] = 0;
        done[done_length] = 0;
        // What the link names, then what followed it.
        if (size_t(n) + 1 + strlen(rest + end) >= sizeof rest) return false;
        char* tail = rest + end;
        memmove(rest + n, tail, strlen(tail) + 1);
        memcpy(rest, target, size_t(n));
        if (target[0] == '/') done[0] = 0;
        at = 0;
    }
}

os_folder_state os_folder_check(const char* path)
{
    struct stat st;
    if (lstat(path, &st) != 0) return errno == ENOENT ? OS_FOLDER_MISSING : OS_FOLDER_REFUSED;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return OS_FOLDER_REFUSED;
    return st.st_mode & (S_IWGRP | S_IWOTH) ? OS_FOLDER_OPEN : OS_FOLDER_OWN;
}

bool os_private_file(const char* path)
{
    struct stat st;
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
           !(st.st_mode & (S_IWGRP | S_IWOTH));
}

bool os_file_info(const char* path, int64_t* size, int64_t* mtime, int64_t* age_seconds)
{
    struct stat st;
    if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (size) *size = int64_t(st.st_size);
    if (mtime) *mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (age_seconds) *age_seconds = int64_t(time(nullptr)) - int64_t(st.st_mtim.tv_sec);
    return true;
}

bool os_rename(const char* from, const char* to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag: rename would replace an
    // empty folder or a file, so look first.
    struct stat st;
    if (lstat(to, &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(from, to) == 0;
}

struct os_file_lock {
    int fd;
};

os_file_lock* os_lock_file(const char* path, bool exclusive, bool touch)
{
    int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    struct stat held, named;
    // The file must still be the one the path names: a remover unlinks it
    // while it holds the exclusive lock.
    bool locked = flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0 && fstat(fd, &held) == 0 &&
                  S_ISREG(held.st_mode) && held.st_uid == geteuid() && lstat(path, &named) == 0 &&
                  held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    if (locked && touch) futimens(fd, nullptr);
    if (!locked) {
        int error = errno;
        close(fd);
        errno = error;
        return nullptr;
    }
    return new os_file_lock{fd};
}

void os_unlock_file(os_file_lock* lock)
{
    if (!lock) return;
    close(lock->fd);
    delete lock;
}

namespace {

// Whether an open file is one of the process's own standard streams.
bool is_standard_stream(const struct stat& file)
{
    for (int fd = 0; fd <= 2; fd++) {
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino) return true;
    }
    return false;
}

}  // namespace

int os_open_dump_file(const char* path)
{
    // Not emptied before it is known to be a regular file of this user: a
    // planted name must not cost its target its contents. Without blocking:
    // a FIFO without reader is refused at once, one with a reader below.
    int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || is_standard_stream(st) ||
        ftruncate(fd, 0) != 0) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

void os_close_fd(int fd)
{
    close(fd);
}

int32_t os_map_file(const char* path, os_mapping* mapping)
{
    if (os_fault_hit(OS_CALL_MAP_FILE)) return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    mapping->file = fd;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size == 0) return -1;
    void* view = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) return -1;
    mapping->view = view;
    mapping->view_length = size_t(st.st_size);
    return int32_t(uint32_t(uint64_t(st.st_size)));
}

void os_unmap_file(os_mapping* mapping)
{
    if (mapping->view) munmap(const_cast<void*>(mapping->view), mapping->view_length);
    mapping->view = nullptr;
    mapping->view_length = 0;
    mapping->object = nullptr;
    if (mapping->file != -1) close(int(mapping->file));
    mapping->file = -1;
}

bool os_mapping_read(const os_mapping* mapping, uint64_t offset, void* buf, size_t size)
{
    auto* out = static_cast<unsigned char*>(buf);
    while (size > 0) {
        ssize_t n = pread(int(mapping->file), out, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return true;
}

// ---- 4. process facts, environment, current directory --------------------------

size_t os_module_filename(char* buf, size_t size)
{
    if (size) buf[0] = 0;
    if (os_fault_hit(OS_CALL_MODULE_FILENAME)) return 0;
    ssize_t n = readlink("/proc/self/exe", buf, size);
    if (n <= 0 || size_t(n) >= size) {
        if (n > 0) errno = ENAMETOOLONG;
        if (size) buf[0] = 0;
        return 0;
    }
    buf[n] = 0;
    return size_t(n);
}

size_t os_temp_path(char* buf, size_t size)
{
    if (size) buf[0] = 0;
    if (os_fault_hit(OS_CALL_TEMP_PATH)) return 0;
    const char* dir = getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp/";
    size_t n = strlen(dir);
    if (n + 1 >= size) {  // room for the trailing separator too
        errno = ENAMETOOLONG;
        return 0;
    }
    memcpy(buf, dir, n + 1);
    return n;
}

size_t os_get_env(const char* name, char* buf, size_t size)
{
    if (size) buf[0] = 0;
    const char* value = getenv(name);
    if (!value || !*value) return 0;
    size_t n = strlen(value);
    if (n >= size) return n + 1;
    memcpy(buf, value, n + 1);
    return n;
}

size_t os_env_size(const char* name)
{
    const char* value = getenv(name);
    return value ? strlen(value) + 1 : 0;
}

namespace {

// PATH as the process started with it: the desktop tools are looked up
// there, never in the temp folder or the executable's folder that the
// launcher puts first.
char* start_path = nullptr;
bool start_path_kept = false;

}  // namespace

const char* os_start_path()
{
    return start_path_kept ? start_path : getenv("PATH");
}

void os_keep_start_path()
{
    if (start_path_kept) return;
    const char* value = getenv("PATH");
    start_path = value ? strdup(value) : nullptr;
    start_path_kept = true;
}

bool os_set_env(const char* name, const char* value)
{
    if (os_fault_hit(OS_CALL_SET_ENV)) return false;
    return setenv(name, value, 1) == 0;
}

bool os_set_cwd(const char* path)
{
    return chdir(path) == 0;
}

size_t os_full_path(const char* path, char* buf, size_t size)
{
    if (size) buf[0] = 0;
    size_t n = strlen(path);
    if (path[0] == '/') {
        if (n >= size) return 0;
        memcpy(buf, path, n + 1);
        return n;
    }
    size_t cwd = os_get_cwd(buf, size);
    if (cwd == 0) return 0;
    // "/" itself ends in the separator already.
    bool sep = buf[cwd - 1] != '/';
    if (cwd + sep + n >= size) {
        buf[0] = 0;
        return 0;
    }
    if (sep) buf[cwd++] = '/';
    memcpy(buf + cwd, path, n + 1);
    return cwd + n;
}

size_t os_get_cwd(char* buf, size_t size)
{
    if (!getcwd(buf, size)) {
        if (size) buf[0] = 0;
        return 0;
    }
    return strlen(buf);
}

// ---- 5. processes ------------------------------------------------------------

namespace {

int detached_stdout = -1;

pid_t spawn(char* const* words, bool detached, char* const* env = environ, bool silent = false)
{
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (silent && detached) posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (silent) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    if (detached) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        if (detached_stdout >= 0 && !silent) posix_spawn_file_actions_adddup2(&actions, detached_stdout, 1);
    }
    pid_t pid = 0;
    int rc = posix_spawn(&pid, words[0], &actions, &attr, words, env);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        return 0;
    }
    return pid;
}

}  // namespace

void os_set_detached_stdout(int fd)
{
    detached_stdout = fd;
}

intptr_t os_start_process(char*, char* const* words, bool detached)
{
    if (os_fault_hit(OS_CALL_START_PROCESS)) return 0;
    if (!words || !words[0]) {
        errno = ENOENT;
        return 0;
    }
    return spawn(words, detached);
}

intptr_t os_start_background_process(char*, char* const* words)
{
    if (os_fault_hit(OS_CALL_START_PROCESS)) return 0;
    if (!words || !words[0]) {
        errno = ENOENT;
        return 0;
    }
    return spawn(words, true, environ, true);
}

intptr_t os_start_silent_process(char*, char* const* words)
{
    if (os_fault_hit(OS_CALL_START_PROCESS)) return 0;
    if (!words || !words[0]) {
        errno = ENOENT;
        return 0;
    }
    // Forked rather than spawned: the child asks to be killed with its
    // parent before it runs the program. Between fork and exec only calls
    // that are safe there.
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) return 0;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        int null_device = open("/dev/null", O_WRONLY);
        if (null_device >= 0) {
            dup2(null_device, 1);
            dup2(null_device, 2);
        }
        execv(words[0], words);
        _exit(127);
    }
    return pid;
}

int os_wait_process(intptr_t process)
{
    int status = 0;
    while (waitpid(pid_t(process), &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int os_wait_process_limited(intptr_t process, uint32_t limit_ms)
{
    uint32_t start = os_uptime_ms();
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid_t(process), &status, WNOHANG);
        if (done == pid_t(process)) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR) return -1;
        if (os_uptime_ms() - start >= limit_ms) {
            kill(pid_t(process), SIGKILL);
            os_wait_process(process);
            return -1;
        }
        usleep(20000);
    }
}

void os_lower_priority()
{
    setpriority(PRIO_PROCESS, 0, 19);
}

void os_close_process(intptr_t)
{
    // A pid needs no closing; os_wait_process has reaped it.
}

// ---- 6. user interface -------------------------------------------------------

namespace {

// The full path of a desktop tool on the start PATH, into buf; false when
// none is there. Relative and empty entries are passed over: they name the
// current directory, which the launcher may have changed.
bool find_tool(const char* tool, char* buf, size_t size)
{
    const char* path = os_start_path();
    for (const char* entry = path; entry && *entry;) {
        const char* end = strchr(entry, ':');
        size_t n = end ? size_t(end - entry) : strlen(entry);
        struct stat st;
        if (entry[0] == '/' && snprintf(buf, size, "%.*s/%s", int(n), entry, tool) < int(size) &&
            stat(buf, &st) == 0 && S_ISREG(st.st_mode) && access(buf, X_OK) == 0)
            return true;
        entry = end ? end + 1 : nullptr;
    }
    return false;
}

// Starts a desktop tool found by find_tool with the start PATH in its
// environment too, so that the tool's own helpers are not looked up in the
// folders the launcher put first.
pid_t spawn_tool(char* const* words, bool detached)
{
    size_t count = 0;
    while (environ[count]) count++;
    char** env = static_cast<char**>(calloc(count + 2, sizeof(char*)));
    if (!env) return 0;
    size_t n = 0;
    for (size_t i = 0; i < count; i++)
        if (strncmp(environ[i], "PATH=", 5) != 0) env[n++] = environ[i];
    char* path = nullptr;
    const char* value = os_start_path();
    if (value && asprintf(&path, "PATH=%s", value) >= 0) env[n++] = path;
    pid_t pid = spawn(words, detached, env);
    free(path);
    free(env);
    return pid;
}

}  // namespace

void os_message_box(const char* text, const char* caption, os_box_icon icon)
{
    const char* display = getenv("DISPLAY");
    if (display && *display) {
        char title[4096];
        snprintf(title, sizeof title, "--title=%s", caption);
        char program[4096];
        char* words[] = {program,
                         const_cast<char*>(icon == OS_BOX_ERROR ? "--error" : "--info"),
                         const_cast<char*>("--no-markup"), title,
                         const_cast<char*>("--text"), const_cast<char*>(text), nullptr};
        pid_t pid = find_tool("zenity", program, sizeof program) ? spawn_tool(words, false) : 0;
        if (pid) {
            os_wait_process(pid);
            return;
        }
    }
    // No desktop to show a box on: the user still reads the message.
    fprintf(stderr, "%s\n%s\n", caption, text);
    fflush(stderr);
}

void os_open_url(const char* url)
{
    char program[4096];
    char* words[] = {program, const_cast<char*>(url), nullptr};
    if (!find_tool("xdg-open", program, sizeof program) || !spawn_tool(words, true)) {
        fprintf(stderr, "%s\n", url);
        fflush(stderr);
    }
}

void os_allow_foreground(uint32_t)
{
}

// ---- 8. registry ---------------------------------------------------------------
//
// A read-only view of the installed runtimes in the registry's shape. Each
// runtime folder ($JAVA_HOME, then the entries of /usr/lib/jvm sorted by
// name) that holds a `release` file and lib/server/libjvm.so is a subkey of
// os_runtime_key named by the release file's JAVA_VERSION; its RuntimeLib
// is lib/server/libjvm.so below the folder's real path. Subkey names stay
// unique as in the registry: a folder whose version is listed already is
// passed over. So a link to a listed runtime (Debian's
// java-1.17.0-openjdk-amd64 beside java-17-openjdk-amd64, default-java)
// adds nothing, and of two different runtimes of one version the first
// stays: $JAVA_HOME's (or that of the java on the PATH), else the first by
// folder name. CurrentVersion: see read_view.
// The view is read afresh at every open.

namespace {

const char* const system_runtime_root = "/usr/lib/jvm";
const char* runtime_root = system_runtime_root;

const size_t max_version_length = 255;  // a longer JAVA_VERSION is no runtime

struct runtime_entry {
    char version[max_version_length + 1];
    char* lib;  // malloc'd
};

struct runtime_view {
    runtime_entry* entries;  // malloc'd
    size_t count;
    char current[max_version_length + 1];  // "" when there is none
    long opened;  // the runtime whose key this is; -1 for os_runtime_key
};

// Fills entry when folder is a runtime: a folder (links followed) with a
// release file naming its version and a regular lib/server/libjvm.so.
bool read_runtime(const char* folder, runtime_entry* entry)
{
    char real[PATH_MAX];
    struct stat st;
    if (!realpath(folder, real) || stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    char lib[PATH_MAX];
    if (size_t(snprintf(lib, sizeof lib, "%s/lib/server/libjvm.so", real)) >= sizeof lib) return false;
    struct stat lib_st;
    if (stat(lib, &lib_st) != 0 || !S_ISREG(lib_st.st_mode)) return false;
    if (!os_release_version(real, entry->version, sizeof entry->version)) return false;
    entry->lib = strdup(lib);
    return true;
}

void add_runtime(runtime_view* view, const char* folder, size_t* capacity)
{
    runtime_entry entry;
    if (!read_runtime(folder, &entry)) return;
    for (size_t i = 0; i < view->count; i++) {
        if (strcasecmp(view->entries[i].version, entry.version) == 0) {
            free(entry.lib);
            return;
        }
    }
    if (view->count == *capacity) {
        *capacity = *capacity ? *capacity * 2 : 8;
        view->entries = static_cast<runtime_entry*>(realloc(view->entries, *capacity * sizeof(runtime_entry)));
    }
    view->entries[view->count++] = entry;
}

int compare_names(const void* a, const void* b)
{
    return strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

// The entries of the runtime folder, sorted by name, each as "root/name".
void add_root_runtimes(runtime_view* view, size_t* capacity)
{
    DIR* dir = opendir(runtime_root);
    if (!dir) return;
    char** paths = nullptr;
    size_t count = 0;
    size_t room = 0;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        char* path = nullptr;
        if (asprintf(&path, "%s/%s", runtime_root, e->d_name) < 0) continue;
        if (count == room) {
            room = room ? room * 2 : 16;
            paths = static_cast<char**>(realloc(paths, room * sizeof(char*)));
        }
        paths[count++] = path;
    }
    closedir(dir);
    if (count) qsort(paths, count, sizeof(char*), compare_names);
    for (size_t i = 0; i < count; i++) {
        add_runtime(view, paths[i], capacity);
        free(paths[i]);
    }
    free(paths);
}

// The home of the java that a shell started here would run: the first
// "java" on the start PATH with its links resolved (/usr/bin/java,
// /etc/alternatives/java, then the real file), two levels up.
bool path_java_home(char* home, size_t size)
{
    char program[PATH_MAX];
    char real[PATH_MAX];
    if (!find_tool("java", program, sizeof program) || !realpath(program, real)) return false;
    for (int level = 0; level < 2; level++) {
        char* cut = strrchr(real, '/');
        if (!cut || cut == real) return false;
        *cut = 0;
    }
    return size_t(snprintf(home, size, "%s", real)) < size;
}

// Makes the runtime in `folder` the current one, with `list` also listed in
// the view (from wherever it lies); false when it is none.
bool take_current(runtime_view* view, const char* folder, bool list, size_t* capacity)
{
    runtime_entry entry;
    if (!read_runtime(folder, &entry)) return false;
    strcpy(view->current, entry.version);
    free(entry.lib);
    if (list) add_runtime(view, folder, capacity);
    return true;
}

// The current runtime: $JAVA_HOME's when it is one, else that of the java
// on the start PATH, else default-java in the runtime folder. The first two
// are listed in the view too, wherever they lie.
void read_view(runtime_view* view)
{
    size_t capacity = 0;
    const char* home = getenv("JAVA_HOME");
    bool current = home && *home && take_current(view, home, true, &capacity);
    char path_home[PATH_MAX];
    if (!current && path_java_home(path_home, sizeof path_home))
        current = take_current(view, path_home, true, &capacity);
    char default_java[PATH_MAX];
    if (!current && size_t(snprintf(default_java, sizeof default_java, "%s/default-java", runtime_root)) < sizeof default_java)
        take_current(view, default_java, false, &capacity);
    add_root_runtimes(view, &capacity);
}

void free_view(runtime_view* view)
{
    for (size_t i = 0; i < view->count; i++) free(view->entries[i].lib);
    free(view->entries);
    delete view;
}

// Copies a text value the way the registry hands out REG_SZ data.
long copy_text(const char* text, char* buf, size_t size, os_reg_type* type)
{
    size_t n = strlen(text) + 1;
    if (n > size) {
        errno = ERANGE;
        return -1;
    }
    memcpy(buf, text, n);
    *type = OS_REG_SZ;
    return long(n);
}

}  // namespace

void os_reg_set_runtime_root(const char* folder)
{
    runtime_root = folder ? folder : system_runtime_root;
}

void* native_reg_open(os_reg_root root, bool, const char* path)
{
    if (root != OS_REG_MACHINE) {
        errno = ENOENT;
        return nullptr;
    }
    const size_t k = strlen(os_runtime_key) - 1;  // without its trailing '\'
    if (strncasecmp(path, os_runtime_key, k) != 0 || (path[k] && path[k] != '\\')) {
        errno = ENOENT;
        return nullptr;
    }
    const char* version = path[k] ? path + k + 1 : "";
    auto* view = new runtime_view{nullptr, 0, "", -1};
    read_view(view);
    if (!*version) return view;
    for (size_t i = 0; i < view->count; i++) {
        if (os_reg_same_path(view->entries[i].version, version)) {
            view->opened = long(i);
            return view;
        }
    }
    free_view(view);
    errno = ENOENT;
    return nullptr;
}

long native_reg_query(void* key, const char* name, char* buf, size_t size, os_reg_type* type)
{
    auto* view = static_cast<runtime_view*>(key);
    if (view->opened < 0 && strcasecmp(name, os_value_current_version) == 0 && view->current[0])
        return copy_text(view->current, buf, size, type);
    if (view->opened >= 0 && strcasecmp(name, os_value_runtime_lib) == 0)
        return copy_text(view->entries[view->opened].lib, buf, size, type);
    errno = ENOENT;
    return -1;
}

bool native_reg_subkey(void* key, uint32_t index, char* name, size_t size)
{
    auto* view = static_cast<runtime_view*>(key);
    if (view->opened >= 0 || index >= view->count) return false;
    const char* version = view->entries[index].version;
    size_t n = strlen(version);
    if (n >= size) return false;
    memcpy(name, version, n + 1);
    return true;
}

void native_reg_close(void* key)
{
    free_view(static_cast<runtime_view*>(key));
}

const os_place native_places[] = {
    {OS_PLACE_HOMES, "~/.sdkman/candidates/java", OS_REG_MACHINE, nullptr, nullptr, nullptr},
    {OS_PLACE_HOMES, "~/.jdks", OS_REG_MACHINE, nullptr, nullptr, nullptr},
    {OS_PLACE_HOMES, "/opt", OS_REG_MACHINE, nullptr, nullptr, nullptr},
    {OS_PLACE_HOMES, "/usr/java", OS_REG_MACHINE, nullptr, nullptr, nullptr},
};
const size_t native_place_count = sizeof native_places / sizeof native_places[0];

const char* const os_vm_library_names[] = {"lib/server/libjvm.so", nullptr};
const os_binary_format os_vm_format = OS_BINARY_ELF;
const unsigned os_vm_machine = EM_X86_64;

long os_read_head(const char* path, void* buf, size_t size)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not block us
    if (fd < 0) return -1;
    struct stat st;
    long n = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        size_t got = 0;
        ssize_t r = 1;
        while (got < size && (r = read(fd, static_cast<char*>(buf) + got, size - got)) > 0) got += size_t(r);
        if (r >= 0) n = long(got);
    }
    close(fd);
    return n;
}

namespace {

// HotSpot on Linux builds java.library.path with sprintf from one literal:
// LD_LIBRARY_PATH, a colon and its system folders. Distributions patch
// the folders (Debian adds its multiarch and JNI folders), so they are read
// from the literal in the library's read-only data.
const char vm_path_literal[] = "%s%s/usr/java/packages/lib";
const char vm_default_folders[] = "/usr/java/packages/lib:/usr/lib64:/lib64:/lib:/usr/lib";

// The section named `wanted` of a mapped ELF64 file: its bytes, or null.
const char* elf_section(const unsigned char* file, uint64_t length, const char* wanted, uint64_t* size)
{
    if (length < sizeof(Elf64_Ehdr) || memcmp(file, ELFMAG, SELFMAG) != 0 || file[EI_CLASS] != ELFCLASS64)
        return nullptr;
    Elf64_Ehdr header;
    memcpy(&header, file, sizeof header);
    if (header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shstrndx >= header.e_shnum) return nullptr;
    uint64_t table = header.e_shoff;
    if (table > length || uint64_t(header.e_shnum) * sizeof(Elf64_Shdr) > length - table) return nullptr;
    auto section = [&](unsigned i) {
        Elf64_Shdr s;
        memcpy(&s, file + table + i * sizeof(Elf64_Shdr), sizeof s);
        return s;
    };
    Elf64_Shdr names = section(header.e_shstrndx);
    if (names.sh_offset > length || names.sh_size > length - names.sh_offset) return nullptr;
    size_t wanted_size = strlen(wanted) + 1;
    for (unsigned i = 0; i < header.e_shnum; i++) {
        Elf64_Shdr s = section(i);
        if (s.sh_type != SHT_PROGBITS || s.sh_name >= names.sh_size ||
            names.sh_size - s.sh_name < wanted_size ||
            memcmp(file + names.sh_offset + s.sh_name, wanted, wanted_size) != 0)
            continue;
        if (s.sh_offset > length || s.sh_size > length - s.sh_offset) return nullptr;
        *size = s.sh_size;
        return reinterpret_cast<const char*>(file + s.sh_offset);
    }
    return nullptr;
}

size_t copy_folders(const char* folders, size_t n, char* buf, size_t size)
{
    if (n >= size) return 0;
    memcpy(buf, folders, n);
    buf[n] = 0;
    return n;
}

}  // namespace

size_t os_vm_system_library_path(const char* vm_library, char* buf, size_t size)
{
    if (size) buf[0] = 0;
    size_t found = 0;
    bool read = false;
    int fd = open(vm_library, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        uint64_t length = uint64_t(st.st_size);
        void* map = mmap(nullptr, size_t(length), PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            uint64_t rodata_size = 0;
            const char* rodata = elf_section(static_cast<const unsigned char*>(map), length, ".rodata", &rodata_size);
            const char* hit = rodata ? static_cast<const char*>(memmem(rodata, size_t(rodata_size), vm_path_literal,
                                                                       sizeof vm_path_literal - 1))
                                     : nullptr;
            if (hit) {
                const char* folders = hit + 4;  // after "%s%s"
                const char* end = static_cast<const char*>(memchr(folders, 0, size_t(rodata + rodata_size - folders)));
                if (end) {
                    found = copy_folders(folders, size_t(end - folders), buf, size);
                    read = found > 0;
                }
            }
            munmap(map, size_t(length));
        }
    }
    if (fd >= 0) close(fd);
    return read ? found : copy_folders(vm_default_folders, sizeof vm_default_folders - 1, buf, size);
}

// ---- 9. libraries ------------------------------------------------------------

namespace {

// dlopen waits for ever on a FIFO and dies of SIGBUS on an ELF file cut
// short of its loadable segments: such a file counts as one that does not
// load. Anything else is left to dlopen.
bool loadable_file(const char* path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return true;  // dlopen reports it
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    Elf64_Ehdr header;
    if (ok && pread(fd, &header, sizeof header, 0) == ssize_t(sizeof header) &&
        memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64 &&
        header.e_phentsize == sizeof(Elf64_Phdr)) {
        uint64_t size = uint64_t(st.st_size);
        for (unsigned i = 0; ok && i < header.e_phnum; i++) {
            Elf64_Phdr segment;
            ok = pread(fd, &segment, sizeof segment, off_t(header.e_phoff + i * sizeof segment)) ==
                 ssize_t(sizeof segment);
            if (ok && segment.p_type == PT_LOAD)
                ok = segment.p_offset <= size && segment.p_filesz <= size - segment.p_offset;
        }
    }
    close(fd);
    return ok;
}

}  // namespace

void* os_load_library(const char* path)
{
    if (!loadable_file(path)) return nullptr;
    return dlopen(path, RTLD_NOW);
}

void* os_load_library_global(const char* path)
{
    if (!loadable_file(path)) return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_GLOBAL);
}

void* os_find_symbol(void* library, const char* name)
{
    return library ? dlsym(library, name) : nullptr;
}

bool os_has_dll_directory()
{
    return false;
}

bool os_set_dll_directory(const char*)
{
    return false;
}

long os_ansi_to_utf16(const char*, uint16_t*, size_t)
{
    return -1;
}

long os_codepage_to_utf16(unsigned, const char*, uint16_t*, size_t)
{
    return -1;
}

// ---- 10. pipes and the relay -------------------------------------------------

bool os_pipe_create(intptr_t* read_end, intptr_t* write_end)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    // Above the standard descriptors: a process started with one of them
    // closed would otherwise get its pipe there, and the relay would put
    // the write end over its own read end.
    for (int& end : ends) {
        if (end > 2) continue;
        int moved = fcntl(end, F_DUPFD_CLOEXEC, 3);
        close(end);
        end = moved;
    }
    if (ends[0] < 0 || ends[1] < 0) {
        for (int end : ends)
            if (end >= 0) close(end);
        return false;
    }
    *read_end = ends[0];
    *write_end = ends[1];
    return true;
}

long os_pipe_available(intptr_t read_end)
{
    int waiting = 0;
    if (ioctl(int(read_end), FIONREAD, &waiting) != 0) return -1;
    return waiting;
}

struct os_wake {
    int ends[2];
};

os_wake* os_wake_create()
{
    auto* wake = new os_wake;
    if (pipe2(wake->ends, O_CLOEXEC | O_NONBLOCK) == 0) return wake;
    delete wake;
    return nullptr;
}

void os_wake_signal(os_wake* wake)
{
    char byte = 0;
    if (write(wake->ends[1], &byte, 1) < 0) {
        // Full: a wake is pending already.
    }
}

void os_pipe_wait(intptr_t read_end, os_wake* wake, int ms)
{
    pollfd p[2] = {{int(read_end), POLLIN, 0}, {wake ? wake->ends[0] : -1, POLLIN, 0}};
    if (poll(p, 2, ms) > 0 && (p[1].revents & POLLIN)) {
        char drained[64];
        while (read(wake->ends[0], drained, sizeof drained) > 0) {
        }
    }
}

long os_pipe_read(intptr_t read_end, void* data, size_t size)
{
    ssize_t n;
    do n = read(int(read_end), data, size);
    while (n < 0 && errno == EINTR);
    return long(n);
}

long os_pipe_write(intptr_t write_end, const void* data, size_t size)
{
    ssize_t n;
    do n = write(int(write_end), data, size);
    while (n < 0 && errno == EINTR);
    return long(n);
}

bool os_stdout_to_pipe(intptr_t write_end)
{
    fflush(stdout);
    if (dup2(int(write_end), 1) < 0) return false;
    close(int(write_end));  // descriptor 1 is the write end now
    setvbuf(stdout, nullptr, _IONBF, 0);
    return true;
}

void os_stderr_handle_to_stdout()
{
    // The descriptors are the handles here: os_dup2 does the work.
}

int os_dup(int fd)
{
    return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

bool os_dup2(int from, int to)
{
    return dup2(from, to) == to;
}

long os_fd_write(int fd, const void* data, size_t length)
{
    ssize_t n;
    do n = write(fd, data, length);
    while (n < 0 && errno == EINTR);
    return long(n);
}

void os_set_thread_priority(os_priority priority)
{
    // Nice values of this thread alone. Without the right to any raise the
    // system still grants down to 20 - RLIMIT_NICE: the highest there is.
    static const int nice_of[] = {0, -2, -20};
    id_t thread = id_t(syscall(SYS_gettid));
    if (setpriority(PRIO_PROCESS, thread, nice_of[priority]) == 0) return;
    rlimit limit;
    if (getrlimit(RLIMIT_NICE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 40) return;
    int floor = 20 - int(limit.rlim_cur);
    errno = 0;
    int now = getpriority(PRIO_PROCESS, thread);
    if (errno == 0 && floor < now && floor > nice_of[priority]) setpriority(PRIO_PROCESS, thread, floor);
}

// ---- 11. named objects -------------------------------------------------------

namespace {

// A folder itself (no link) of the effective user that no one else may
// enter: what it holds was put there by this user.
bool private_folder_here(const char* path)
{
    struct stat st;
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace

bool os_private_folder(const char* path)
{
    if (mkdir(path, 0700) != 0 && errno != EEXIST) return false;
    return private_folder_here(path);
}

size_t os_channel_folder(char* buf, size_t size)
{
    if (size) buf[0] = 0;
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    const char* state = getenv("XDG_STATE_HOME");
    const char* home = getenv("HOME");
    char base[4096];
    int n;
    if (runtime && runtime[0] == '/' && private_folder_here(runtime) && os_path_safe(runtime)) {
        n = snprintf(buf, size, "%s/glimvane", runtime);
    } else {
        // Without a runtime folder: the user's state folder, made when
        // missing. It may be a link of the user's own; the folder in it is
        // checked itself.
        if (state && state[0] == '/') {
            n = snprintf(base, sizeof base, "%s", state);
        } else if (home && home[0] == '/') {
            n = snprintf(base, sizeof base, "%s/.local", home);
            if (n > 0 && size_t(n) < sizeof base) mkdir(base, 0700);
            n = snprintf(base, sizeof base, "%s/.local/state", home);
        } else {
            return 0;
        }
        struct stat st;
        if (n <= 0 || size_t(n) >= sizeof base) return 0;
        mkdir(base, 0700);
        if (stat(base, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || !os_path_safe(base)) return 0;
        n = snprintf(buf, size, "%s/glimvane-channels", base);
    }
    if (n <= 0 || size_t(n) >= size || !os_private_folder(buf)) {
        if (size) buf[0] = 0;
        return 0;
    }
    return size_t(n);
}

const char* const os_shared_name_format = "glimvane-mem-%s";
const char* const os_lock_name_format = "glimvane-lock-%s";
const char* const os_start_event_name_format = "glimvane-start-event-%s";
const char* const os_end_event_name_format = "glimvane-end-event-%s";
const char* const os_client_lock_name_format = "glimvane-client-lock-%s";

namespace {

const size_t object_path_size = 1024;

// The file of a named object in this user's folder; false when there is no
// such folder or the path does not fit.
bool object_path(const char* name, char* path)
{
    size_t n = os_channel_folder(path, object_path_size);
    return n > 0 && snprintf(path + n, object_path_size - n, "/%s", name) < int(object_path_size - n);
}

// The names this process created are removed at its exit, the block first:
// a client that finds the block's name gone knows that the launcher ended.
// A launcher killed outright leaves them behind.
// The control channel and a single instance's channel: five names each.
const int created_capacity = 16;
char created_names[created_capacity][object_path_size];
int created_count;

void remove_created_names()
{
    for (int i = 0; i < created_count; i++) unlink(created_names[i]);
}

bool remember_created(const char* path)
{
    if (created_count == created_capacity) return false;
    if (created_count == 0) atexit(remove_created_names);
    strcpy(created_names[created_count++], path);
    return true;
}

// An object's file as this user's launcher makes it: of the kind, owned by
// the effective user, never through a link.
int open_object(const char* name, int flags, mode_t kind)
{
    char path[object_path_size];
    if (!object_path(name, path)) return -1;
    int fd = open(path, flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || (st.st_mode & S_IFMT) != kind || st.st_uid != geteuid())) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace

struct os_shared {
    int fd;
};

os_shared* os_shared_create(const char* name, size_t size, bool* existed)
{
    *existed = false;
    char path[object_path_size], temp[object_path_size + 8];
    if (!object_path(name, path) || created_count == created_capacity) return nullptr;
    snprintf(temp, sizeof temp, "%s.new", path);
    // The block appears under its name only once it is whole and held: a
    // client never sees one that looks left behind while it is being made.
    // A ".new" file is a leftover of a launcher killed right here.
    unlink(temp);
    int fd = open(temp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    // Held with a shared lock until the process ends, however it ends: the
    // sign by which clients tell a live launcher from a killed one. The
    // descriptor is closed on exec, so no child keeps the lock.
    bool made = fchmod(fd, 0600) == 0 && ftruncate(fd, off_t(size)) == 0 && flock(fd, LOCK_SH) == 0;
    bool linked = made && link(temp, path) == 0;
    *existed = made && !linked && errno == EEXIST;
    unlink(temp);
    if (!linked) {
        close(fd);
        return nullptr;
    }
    remember_created(path);
    return new os_shared{fd};
}

os_shared* os_shared_open(const char* name, size_t size)
{
    int fd = open_object(name, O_RDWR, S_IFREG);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || st.st_size != off_t(size))) {
        close(fd);
        fd = -1;
    }
    return fd < 0 ? nullptr : new os_shared{fd};
}

bool os_shared_read(os_shared* block, size_t offset, void* buf, size_t size)
{
    ssize_t n;
    do n = pread(block->fd, buf, size, off_t(offset));
    while (n < 0 && errno == EINTR);
    return n == ssize_t(size);
}

bool os_shared_write(os_shared* block, size_t offset, const void* data, size_t size)
{
    struct stat st;
    // Writing never makes a shrunken block grow back into a block again.
    if (fstat(block->fd, &st) != 0 || uint64_t(st.st_size) < uint64_t(offset) + size) return false;
    ssize_t n;
    do n = pwrite(block->fd, data, size, off_t(offset));
    while (n < 0 && errno == EINTR);
    return n == ssize_t(size);
}

void os_shared_close(os_shared* block)
{
    close(block->fd);
    delete block;
}

os_shared_state os_shared_state_of(const char* name)
{
    int fd = open_object(name, O_RDONLY, S_IFREG);
    if (fd < 0) return errno == ENOENT ? OS_SHARED_ENDED : OS_SHARED_LIVE;
    // The creator holds a shared lock for its whole life and removes the name
    // before it ends; a process asking at the same moment holds it too, for
    // an instant, which counts as live.
    bool left = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return left ? OS_SHARED_LEFT : OS_SHARED_LIVE;
}

void os_shared_remove(const char* name)
{
    char path[object_path_size];
    if (object_path(name, path)) unlink(path);
}

void os_sync_remove(const char* name)
{
    os_shared_remove(name);
}

// A lock is a file locked with flock, which ends with its holder; an event
// is a FIFO holding one byte while it is set. Each handle is a descriptor of
// its own: flock locks belong to an open file, so two handles exclude each
// other even inside one process.
struct os_sync {
    int fd;
    bool lock;
};

namespace {

os_sync* sync_create(const char* name, bool lock)
{
    char path[object_path_size];
    if (!object_path(name, path) || created_count == created_capacity) return nullptr;
    // The block of this run id was new, so a file of the name is a leftover
    // of a launcher of the same run id killed outright: it starts afresh.
    unlink(path);
    int fd = -1;
    if (lock) {
        fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } else if (mkfifo(path, 0600) == 0) {
        // Read and write: the launcher's own end keeps the FIFO open, so a
        // client's open never waits and a read never sees its end.
        fd = open(path, O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) return nullptr;
    remember_created(path);
    return new os_sync{fd, lock};
}

os_sync* sync_open(const char* name, bool lock)
{
    int fd = open_object(name, O_RDWR, lock ? S_IFREG : S_IFIFO);
    return fd < 0 ? nullptr : new os_sync{fd, lock};
}

// A monotonic clock in milliseconds.
int64_t now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool lock_wait(int fd, int ms)
{
    int rc;
    if (ms < 0) {
        do rc = flock(fd, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        return rc == 0;
    }
    // flock has no time limit: try, then pause a little longer each time.
    int64_t until = now_ms() + ms;
    for (int pause = 1;; pause = pause < 16 ? pause * 2 : 16) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        int64_t left = until - now_ms();
        if (left <= 0) return false;
        os_sleep_ms(int(left < pause ? left : pause));
    }
}

bool event_wait(int fd, int ms)
{
    int64_t until = ms < 0 ? 0 : now_ms() + ms;
    for (;;) {
        // Whoever reads the byte took the event; another waiter waits on.
        char byte;
        if (read(fd, &byte, 1) == 1) return true;
        if (errno != EAGAIN && errno != EINTR) return false;
        int left = -1;
        if (ms >= 0) {
            int64_t rest = until - now_ms();
            if (rest <= 0) return false;
            left = int(rest);
        }
        pollfd p = {fd, POLLIN, 0};
        poll(&p, 1, left);
    }
}

}  // namespace

os_sync* os_lock_create(const char* name)
{
    return sync_create(name, true);
}

os_sync* os_event_create(const char* name)
{
    return sync_create(name, false);
}

os_sync* os_lock_open(const char* name)
{
    return sync_open(name, true);
}

os_sync* os_event_open(const char* name)
{
    return sync_open(name, false);
}

bool os_sync_wait(os_sync* object, int ms)
{
    return object->lock ? lock_wait(object->fd, ms) : event_wait(object->fd, ms);
}

void os_lock_release(os_sync* lock)
{
    flock(lock->fd, LOCK_UN);
}

void os_event_set(os_sync* event)
{
    // An auto-reset event holds one signal at most.
    int waiting = 0;
    if (ioctl(event->fd, FIONREAD, &waiting) == 0 && waiting > 0) return;
    char byte = 1;
    ssize_t n;
    do n = write(event->fd, &byte, 1);
    while (n < 0 && errno == EINTR);
}
