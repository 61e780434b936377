#include "tests/e2e/run.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

std::vector<std::string> environment_with(const std::vector<std::string>& env)
{
    std::vector<std::string> environment;
    for (char** e = environ; *e; e++) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : env)
            if (x.substr(0, x.find('=')) == name) replaced = true;
        if (!replaced) environment.push_back(entry);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    return environment;
}

int spawn_with(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const posix_spawn_file_actions_t* actions, pid_t* pid)
{
    std::vector<std::string> environment = environment_with(env);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    return posix_spawn(pid, args[0], actions, nullptr, args.data(), envp.data());
}

run_result run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    run_result result;
    for (const std::string& a : argv) result.command += "'" + a + "' ";

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    pid_t pid;
    int rc = spawn_with(argv, env, &actions, &pid);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        result.err = std::string("spawn failed: ") + strerror(rc);
        return result;
    }
    // Read until the program has ended; a detached child it left behind may
    // hold the pipes open longer, so stop reading once the program is gone
    // and the pipes are drained.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    bool exited = false;
    int status = 0;
    for (;;) {
        int ready = poll(fds, 2, exited ? 200 : 50);
        if (ready < 0 && errno == EINTR) continue;
        bool open = false;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0) continue;
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                char buffer[4096];
                ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, size_t(n));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    continue;
                }
            }
            open = true;
        }
        if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
        if (!open && exited) break;
        if (exited && ready == 0) break;  // program gone, nothing more arrives
    }
    for (pollfd& f : fds)
        if (f.fd >= 0) close(f.fd);
    if (!exited) waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    return result;
}

std::vector<std::string> log_texts(const std::string& out)
{
    std::vector<std::string> texts;
    std::regex line(R"(!(.*) \[-?\d+\]\r\n)");
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
        texts.push_back((*it)[1]);
    return texts;
}
