// Fuzz target: the input is a plain file record, written by extract_file
// and, scrambled into a file section, by extract_section,
// below a private scratch folder made once per process. Nothing may appear
// outside that folder, a refused record writes nothing, and a written file
// holds exactly the record's contents. The folder sits three spare levels
// deep inside a private root, so that a path that climbs out lands where
// the walk below sees it.
#include "fuzz/check.h"
#include "payload/extract.h"
#include "payload/sections.h"
#include "payload/writer.h"
#include "support/paths.h"
#include "support/track.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path root, box;

void remove_root()
{
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

void make_scratch()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/gvfuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    root = pattern;
    box = root / "up1" / "up2" / "up3" / "box";
    fs::create_directories(box);
    FUZZ_CHECK(box.string().size() < size_t(temp_path_limit));
    strcpy(temp_folder, box.c_str());  // the driver's folder has no trailing separator
    atexit(remove_root);
}

// True when the path, read with both separators as the extraction reads
// it, leads above the folder it is joined to.
bool climbs_out(const std::string& path)
{
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    long depth = 0;
    size_t start = 0;
    while (start <= path.size()) {
        size_t stop = path.find_first_of("/\\", start);
        if (stop == std::string::npos) stop = path.size();
        std::string component = path.substr(start, stop - start);
        if (component == "..") {
            if (--depth < 0) return true;
        } else if (!component.empty() && component != ".") {
            depth++;
        }
        start = stop + 1;
    }
    return false;
}

// Every entry below the root is on the way down to the box or inside it.
size_t entries_below_box()
{
    size_t inside = 0;
    const std::string prefix = box.string() + "/";
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        bool on_the_way = path == (root / "up1").string() || path == (root / "up1" / "up2").string() ||
                          path == (root / "up1" / "up2" / "up3").string() || path == box.string();
        if (on_the_way) continue;
        if (path.compare(0, prefix.size(), prefix) != 0) {
            fprintf(stderr, "written outside the temp folder: %s\n", path.c_str());
            abort();
        }
        FUZZ_CHECK(!entry.is_symlink());
        inside++;
    }
    return inside;
}

void empty_box()
{
    for (const fs::directory_entry& entry : fs::directory_iterator(box)) fs::remove_all(entry.path());
}

// The outcome of one extraction of the record: nothing written when it is
// refused, else exactly its contents at the path it names. True when written.
bool check_outcome(char* full, const file_record& r, bool safe)
{
    size_t written = entries_below_box();
    if (!safe) FUZZ_CHECK(!full && written == 0);
    if (full) {
        std::string expected = box.string() + "/" + r.path;
        for (size_t i = box.string().size(); i < expected.size(); i++)
            if (expected[i] == '\\') expected[i] = '/';
        FUZZ_CHECK(expected == full && strlen(full) <= extract_path_limit);
        std::ifstream in(full, std::ios::binary);
        std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        FUZZ_CHECK(contents.size() == r.size && memcmp(contents.data(), r.contents, r.size) == 0);
    }
    track_free(full, 1);
    empty_box();
    return full != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (root.empty()) make_scratch();
    if (size > size_t(INT32_MAX - section_header_size)) return 0;
    // A copy of exactly the record's size: a read past it is caught.
    std::vector<unsigned char> record(data, data + size);

    file_record r;
    bool readable = read_record(record.data(), int32_t(size), &r);
    bool safe = readable && record_path_safe(r.path);
    if (safe) FUZZ_CHECK(!climbs_out(r.path));
    bool written = check_outcome(extract_file(record.data(), int32_t(size)), r, safe);

    // The launcher reads the same record scrambled inside its file section:
    // the same outcome, the same bytes.
    std::vector<unsigned char> section(size_t(section_header_size) + size);
    scramble_bytes(record.data(), section.data() + section_header_size, size);
    put_section_header(section.data(), 'F', section.data() + section_header_size, int32_t(size));
    FUZZ_CHECK(check_outcome(extract_section(section.data()), r, safe) == written);

    // The same bytes as a compressed section and as a part of a file, read
    // in place: no read past them, nothing written for a record that breaks
    // its bounds or leaves the folder, and a part only inside its file.
    for (char type : {compressed_type, compressed_part_type}) {
        std::vector<unsigned char> stored(size_t(section_header_size) + size);
        if (size) memcpy(stored.data() + section_header_size, record.data(), size);
        put_section_header(stored.data(), type, stored.data() + section_header_size, int32_t(size));
        file_record c;
        bool fits = read_record(record.data(), int32_t(size), &c,
                                type == compressed_type ? RECORD_FORM_COMPRESSED : RECORD_FORM_PART);
        char* full = extract_section(stored.data());
        if (!fits || !record_path_safe(c.path)) FUZZ_CHECK(!full);
        if (full) FUZZ_CHECK(fs::file_size(full) == uint64_t(c.offset) + c.size && c.offset + uint64_t(c.size) <= c.whole);
        track_free(full, 1);
        empty_box();
    }
    return 0;
}
