// Small file-system helpers for tests (POSIX).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

// A fresh folder below the system temp path, removed with its contents at
// the end of the test.
struct scratch_dir {
    fs::path path;
    scratch_dir()
    {
        std::string pattern = (fs::temp_directory_path() / "gvtest-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        path = pattern;
    }
    ~scratch_dir()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
};

inline void write_text(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_text(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
