// The place of a packaged application in an end-to-end test: the executable
// below a scratch folder, its own temp path and the recording desktop tools.
#pragma once

#include "tests/fs_util.h"
#include "tests/recorder.h"

#include <string>
#include <vector>

struct package_dir {
    scratch_dir scratch;
    fs::path root = fs::canonical(scratch.path);
    fs::path exe = root / "app" / "demo-app";
    fs::path tmp = root / "tmp";
    desktop_recorder desktop;

    package_dir() { fs::create_directories(tmp); }
};

// The value of the first "key=value" text of a debug log, or "".
inline std::string value_of(const std::vector<std::string>& log, const std::string& key)
{
    for (const std::string& line : log)
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "";
}
