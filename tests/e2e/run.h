// Runs a program as a user would and collects what it printed.
#pragma once

#include <spawn.h>

#include <string>
#include <vector>

struct run_result {
    int exit_code = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
    std::string command;  // for failure messages
};

// Runs `argv` (argv[0] is the program path) with the current environment
// plus `env` ("NAME=value" entries replace or add variables), waits for it
// and returns its exit code and both outputs.
run_result run_program(const std::vector<std::string>& argv,
                       const std::vector<std::string>& env = {});

// Starts argv as run_program does, with these file actions; posix_spawn's
// result.
int spawn_with(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const posix_spawn_file_actions_t* actions, pid_t* pid);

// The current environment with `env` ("NAME=value" entries) replacing or
// adding variables.
std::vector<std::string> environment_with(const std::vector<std::string>& env);

// The "!text [ms]" debug log lines of an output, texts only.
std::vector<std::string> log_texts(const std::string& out);
