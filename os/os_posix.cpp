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
#include <semaphore.h>
#include <spawn.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
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
const int os_error_invalid_data = EINVAL;
const char* const os_dump_export = "JVM_DumpAllStacks";
const char* const os_java_program = "bin/java";

// ---- 2. streams, counters, threads, locks --------------------------------------

int os_stream_fd(FILE* stream)
{
    return fileno(stream);
}

void os_set_binary(int)
{
    // POSIX streams never translate line ends.
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
// stays: $JAVA_HOME's, else the first by folder name. CurrentVersion is the
// version of $JAVA_HOME's runtime when it is one, else that of default-java
// in the runtime folder.
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

void read_view(runtime_view* view)
{
    size_t capacity = 0;
    const char* home = getenv("JAVA_HOME");
    if (home && *home) {
        add_runtime(view, home, &capacity);
        if (view->count) strcpy(view->current, view->entries[0].version);
    }
    if (!view->current[0]) {
        char default_java[PATH_MAX];
        runtime_entry entry;
        if (size_t(snprintf(default_java, sizeof default_java, "%s/default-java", runtime_root)) < sizeof default_java &&
            read_runtime(default_java, &entry)) {
            strcpy(view->current, entry.version);
            free(entry.lib);
        }
    }
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

// ---- 9. libraries ------------------------------------------------------------

void* os_load_library(const char* path)
{
    return dlopen(path, RTLD_NOW);
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

const char* const os_shared_name_format = "/glimvane-mem-%s";
const char* const os_lock_name_format = "/glimvane-lock-%s";
const char* const os_start_event_name_format = "/glimvane-start-event-%s";
const char* const os_end_event_name_format = "/glimvane-end-event-%s";

namespace {

// POSIX names outlive their process: those this process created are removed
// at its exit. A launcher killed outright leaves them behind; clients see
// such a channel as one that never answers.
const int created_capacity = 8;
char created_names[created_capacity][128];
bool created_is_shared[created_capacity];
int created_count;

void remove_created_names()
{
    for (int i = 0; i < created_count; i++) {
        if (created_is_shared[i]) shm_unlink(created_names[i]);
        else sem_unlink(created_names[i]);
    }
}

void remember_created(const char* name, bool shared)
{
    if (created_count == 0) atexit(remove_created_names);
    if (created_count == created_capacity || strlen(name) >= sizeof created_names[0]) return;
    strcpy(created_names[created_count], name);
    created_is_shared[created_count++] = shared;
}

void* map_shared(int fd, size_t size)
{
    struct stat st;
    void* view = MAP_FAILED;
    if (fstat(fd, &st) == 0 && size_t(st.st_size) >= size)
        view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return view == MAP_FAILED ? nullptr : view;
}

}  // namespace

void* os_shared_create(const char* name, size_t size, bool* existed)
{
    *existed = false;
    int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        *existed = errno == EEXIST;
        return nullptr;
    }
    remember_created(name, true);
    // Exactly 0600 whatever the umask: only this user may talk to us.
    if (fchmod(fd, 0600) != 0 || ftruncate(fd, off_t(size)) != 0) {
        close(fd);
        return nullptr;
    }
    // Held open with a shared lock until the process ends, however it ends:
    // the sign by which clients tell a live launcher from a killed one.
    int held = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (held >= 0) flock(held, LOCK_SH);
    return map_shared(fd, size);
}

bool os_shared_alive(const char* name)
{
    int fd = shm_open(name, O_RDONLY, 0);
    if (fd < 0) return false;
    bool alive = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return alive;
}

void os_shared_remove(const char* name)
{
    shm_unlink(name);
}

void os_sync_remove(const char* name)
{
    sem_unlink(name);
}

void* os_shared_open(const char* name, size_t size)
{
    int fd = shm_open(name, O_RDWR, 0);
    return fd < 0 ? nullptr : map_shared(fd, size);
}

struct os_sync {
    sem_t* sem;
};

namespace {

os_sync* sync_create(const char* name, unsigned initial)
{
    // The block of this name was new, so a semaphore of the name is a
    // leftover of a killed launcher of the same run id: it starts afresh.
    sem_unlink(name);
    sem_t* sem = sem_open(name, O_CREAT | O_EXCL, 0600, initial);
    if (sem == SEM_FAILED) return nullptr;
    remember_created(name, false);
    return new os_sync{sem};
}

os_sync* sync_open(const char* name)
{
    sem_t* sem = sem_open(name, 0);
    return sem == SEM_FAILED ? nullptr : new os_sync{sem};
}

}  // namespace

os_sync* os_lock_create(const char* name)
{
    return sync_create(name, 1);
}

os_sync* os_event_create(const char* name)
{
    return sync_create(name, 0);
}

os_sync* os_lock_open(const char* name)
{
    return sync_open(name);
}

os_sync* os_event_open(const char* name)
{
    return sync_open(name);
}

bool os_sync_wait(os_sync* object, int ms)
{
    int rc;
    if (ms < 0) {
        do rc = sem_wait(object->sem);
        while (rc != 0 && errno == EINTR);
        return rc == 0;
    }
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += ms / 1000;
    until.tv_nsec += long(ms % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec++;
        until.tv_nsec -= 1000000000L;
    }
    do rc = sem_timedwait(object->sem, &until);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void os_lock_release(os_sync* lock)
{
    sem_post(lock->sem);
}

void os_event_set(os_sync* event)
{
    // An auto-reset event holds one signal at most.
    int value = 0;
    if (sem_getvalue(event->sem, &value) == 0 && value > 0) return;
    sem_post(event->sem);
}
