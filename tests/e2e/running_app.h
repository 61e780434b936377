// A packaged application running in the background while a test talks to
// it (end-to-end tests on POSIX).
#pragma once

#include "tests/e2e/run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Both outputs are collected until it has ended.
struct running_app {
    pid_t pid = -1;
    int out_fd = -1, err_fd = -1;
    std::mutex lock;
    std::string out, err;
    bool ended = false;
    int exit_code = -1;
    std::thread reader;

    running_app(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    {
        int out_pipe[2], err_pipe[2];
        if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (spawn_with(argv, env, &actions, &pid) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out_pipe[1]);
        close(err_pipe[1]);
        out_fd = out_pipe[0];
        err_fd = err_pipe[0];
        reader = std::thread([this] { read_all(); });
    }

    ~running_app()
    {
        if (pid > 0 && !ended) kill(pid, SIGKILL);
        finish();
    }

    // Reads both outputs until the program has ended and nothing more comes
    // (a removal child it left may hold a pipe open for a while).
    void read_all()
    {
        pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
        std::string* sinks[2] = {&out, &err};
        for (;;) {
            int ready = poll(fds, 2, 100);
            bool done;
            {
                std::lock_guard<std::mutex> hold(lock);
                done = ended;
            }
            if (ready == 0 && done) break;
            bool open = false;
            for (int i = 0; i < 2; i++) {
                if (fds[i].fd < 0) continue;
                open = true;
                if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
                char buffer[65536];
                ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                std::lock_guard<std::mutex> hold(lock);
                if (n > 0) {
                    sinks[i]->append(buffer, size_t(n));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                }
            }
            if (!open) break;
        }
        for (pollfd& f : fds)
            if (f.fd >= 0) close(f.fd);
    }

    std::string output()
    {
        std::lock_guard<std::mutex> hold(lock);
        return out;
    }

    // True once standard output holds `text`, at most 30 seconds.
    bool wait_for(const std::string& text)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < until) {
            if (output().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Waits for the program to end; its exit code.
    int finish()
    {
        if (pid > 0 && !ended) {
            int status = 0;
            waitpid(pid, &status, 0);
            exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::lock_guard<std::mutex> hold(lock);
            ended = true;
        }
        if (reader.joinable()) reader.join();
        return exit_code;
    }
};

