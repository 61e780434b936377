// The platform layer on POSIX (linux-x64).
//
//   1. constants      2. streams, counters, threads, locks
//   3. files/folders  4. process facts, environment, cwd
//   5. processes      6. user interface
#include "os/os.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// ---- 1. constants ------------------------------------------------------------

const char os_path_sep = '/';
const char os_list_sep = ':';
const char* const os_env_path = "PATH";
const char* const os_env_classpath = "CLASSPATH";
const int os_error_invalid_data = EINVAL;

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

pid_t spawn(char* const* words, bool detached, char* const* env = environ)
{
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (detached) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, words[0], nullptr, &attr, words, env);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        return 0;
    }
    return pid;
}

}  // namespace

intptr_t os_start_process(char*, char* const* words, bool detached)
{
    if (os_fault_hit(OS_CALL_START_PROCESS)) return 0;
    if (!words || !words[0]) {
        errno = ENOENT;
        return 0;
    }
    return spawn(words, detached);
}

void os_wait_process(intptr_t process)
{
    int status;
    while (waitpid(pid_t(process), &status, 0) < 0 && errno == EINTR) {
    }
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
    const char* path = start_path_kept ? start_path : getenv("PATH");
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
    const char* value = start_path_kept ? start_path : getenv("PATH");
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
