// Small file-system helpers for tests (POSIX).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

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

// Waits for the class cache builder that a fast-start launch started for
// the class list `list` (FOLDER/vm-HASH.classes), at most two minutes:
// until it made the archive or failed, then until it let its lock go.
inline void wait_for_vm_cache_builder(const fs::path& list)
{
    fs::path archive = list;
    archive.replace_extension(".jsa");
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!fs::exists(archive) && !fs::exists(archive.string() + ".failed") &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int fd = open((archive.string() + ".build").c_str(), O_RDONLY);
    if (fd < 0) return;
    flock(fd, LOCK_EX);
    close(fd);
}
