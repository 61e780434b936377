// Recording stand-ins for the desktop tools that the POSIX layer calls: a
// folder holding scripts named zenity and xdg-open goes first on PATH, with
// DISPLAY set, and each call leaves a record of its words. The real code
// path runs; the test reads what it was asked to show or open.
#pragma once

#include "tests/fs_util.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

struct desktop_recorder {
    scratch_dir scratch;
    fs::path bin = scratch.path / "bin";
    fs::path records = scratch.path / "records";
    // When set, zenity copies the run folders ($TMPDIR/GV*) here before it
    // returns: a snapshot taken while the launcher waits for its box.
    fs::path snapshot;

    desktop_recorder()
    {
        fs::create_directories(records);
        for (const char* tool : {"zenity", "xdg-open"}) {
            // Written under a dot name, then renamed: a poller never reads half a record.
            std::string script = std::string("#!/bin/sh\n") +
                                 "if [ -n \"$GV_SNAPSHOT\" ]; then cp -R \"${TMPDIR:-/tmp}\"/GV* \"$GV_SNAPSHOT\"/; fi\n"
                                 "tmp=\"$GV_RECORDS/.tmp.$$\"\n"
                                 "printf '%s\\0' \"$@\" > \"$tmp\"\n"
                                 "mv \"$tmp\" \"$GV_RECORDS/" + tool + ".$$\"\n";
            write_text(bin / tool, script);
            fs::permissions(bin / tool, fs::perms::owner_all);
        }
    }

    // The variables a launched program needs ("NAME=value").
    std::vector<std::string> env() const
    {
        const char* path = getenv("PATH");
        std::vector<std::string> vars = {"PATH=" + bin.string() + ":" + (path ? path : "/usr/bin:/bin"),
                                         "DISPLAY=:97", "GV_RECORDS=" + records.string()};
        if (!snapshot.empty()) vars.push_back("GV_SNAPSHOT=" + snapshot.string());
        return vars;
    }

    // The words of each call of `tool` so far.
    std::vector<std::vector<std::string>> calls(const std::string& tool) const
    {
        std::vector<std::vector<std::string>> found;
        for (const fs::directory_entry& e : fs::directory_iterator(records)) {
            std::string name = e.path().filename().string();
            if (name.rfind(tool + ".", 0) != 0) continue;
            std::string text = read_text(e.path());
            std::vector<std::string> words;
            for (size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
                words.push_back(text.substr(start, end - start));
            found.push_back(words);
        }
        return found;
    }

    // Waits up to `seconds` for `count` calls of a tool started detached.
    std::vector<std::vector<std::string>> wait_calls(const std::string& tool, size_t count,
                                                     int seconds = 5) const
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (calls(tool).size() < count && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return calls(tool);
    }
};

// Puts a recorder's variables into this process (for unit tests) and takes
// the old values back at the end of the scope.
struct scoped_env {
    std::vector<std::pair<std::string, std::string>> saved;  // name, old value
    std::vector<bool> was_set;

    explicit scoped_env(const std::vector<std::string>& vars)
    {
        for (const std::string& v : vars) {
            std::string name = v.substr(0, v.find('='));
            const char* old = getenv(name.c_str());
            saved.emplace_back(name, old ? old : "");
            was_set.push_back(old != nullptr);
            setenv(name.c_str(), v.substr(v.find('=') + 1).c_str(), 1);
        }
    }
    ~scoped_env()
    {
        for (size_t i = 0; i < saved.size(); i++) {
            if (was_set[i])
                setenv(saved[i].first.c_str(), saved[i].second.c_str(), 1);
            else
                unsetenv(saved[i].first.c_str());
        }
    }
    scoped_env(const scoped_env&) = delete;
    scoped_env& operator=(const scoped_env&) = delete;
};
