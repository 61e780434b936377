// The place of a packaged application in an end-to-end test: the executable
// below a scratch folder, its own temp path and the recording desktop tools.
// The test target defines GLIMVANE_PACK and GLIMVANE_STUB.
#pragma once

#include "payload/sections.h"
#include "payload/writer.h"
#include "support/config.h"
#include "tests/e2e/run.h"
#include "tests/fs_util.h"
#include "tests/recorder.h"

#include <chrono>
#include <cstring>
#include <functional>
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

    // Rewrites the package's Vars text with `edit`, the other sections kept
    // as they are: for packages the packer refuses because they fail at
    // launch (a heap the VM refuses, no main class).
    void edit_vars(const std::function<std::string(std::string)>& edit)
    {
        std::string file = read_text(exe);
        auto data = reinterpret_cast<const unsigned char*>(file.data());
        const int32_t length = int32_t(file.size());
        std::vector<std::pair<char, std::string>> sections;
        int32_t first = find_section(data, 0, length);
        for (int32_t at = first; at > 0;) {
            int32_t n = section_payload_length(data + at);
            sections.emplace_back(section_type(data + at), file.substr(size_t(at) + section_header_size, size_t(n)));
            at = find_section(data, at + section_header_size + n, length);
        }
        ASSERT_FALSE(sections.empty());
        std::string vars = edit(sections[0].second.substr(0, sections[0].second.find('\0')));
        sections[0].second = vars + std::string(1, '\0');
        file.resize(size_t(first));
        for (const auto& s : sections) {
            file.resize((file.size() + 15) / 16 * 16);
            unsigned char header[section_header_size];
            put_section_header(header, s.first, reinterpret_cast<const unsigned char*>(s.second.data()),
                               int32_t(s.second.size()));
            file.append(reinterpret_cast<const char*>(header), section_header_size);
            file += s.second;
        }
        size_t block;
        count_config_markers(reinterpret_cast<const unsigned char*>(file.data()), file.size(), &block);
        int32_t end = int32_t(file.size());
        memcpy(&file[block + size_t(config_length_offset)], &end, 4);
        if (sections.back().second.empty()) file.push_back(0);  // the scan needs a byte behind it
        write_text(exe, file);
        fs::permissions(exe, fs::perms::owner_all);
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
