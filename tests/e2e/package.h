// The place of a packaged application in an end-to-end test: the executable
// below a scratch folder, its own temp path and the recording desktop tools.
// The test target defines GLIMVANE_PACK and GLIMVANE_STUB.
#pragma once

#include "tests/e2e/run.h"
#include "tests/fs_util.h"
#include "tests/recorder.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

struct package_dir {
    scratch_dir scratch;
    fs::path root = fs::canonical(scratch.path);
    fs::path exe = root / "app" / "demo-app";
    fs::path tmp = root / "tmp";
    desktop_recorder desktop;

    package_dir() { fs::create_directories(tmp); }

    // Packs the stub into exe as "Demo App" with further packer options.
    void pack(const std::vector<std::string>& options)
    {
        std::vector<std::string> argv = {GLIMVANE_PACK, "--stub", GLIMVANE_STUB, "--out", exe.string(),
                                         "--name", "Demo App"};
        argv.insert(argv.end(), options.begin(), options.end());
        fs::create_directories(exe.parent_path());
        run_result r = run_program(argv);
        ASSERT_EQ(r.exit_code, 0) << r.command << "\n" << r.out << r.err;
    }

    // True once the removal child has emptied the temp path.
    bool temp_removed() const
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::is_empty(tmp) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return fs::is_empty(tmp);
    }
};

// The value of the first "key=value" text of a debug log, or "".
inline std::string value_of(const std::vector<std::string>& log, const std::string& key)
{
    for (const std::string& line : log)
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "";
}
