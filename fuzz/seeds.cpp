// Writes the seed corpora of the fuzz targets into the folder given
// (fuzz/corpus): packaged files built with the test fixture's helpers, plain
// records and Vars texts. The committed seeds are its output.
#include "payload/extract.h"
#include "payload/tests/fixture.h"
#include "payload/writer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path out;

void save(const std::string& target, const std::string& name, const bytes& data)
{
    fs::create_directories(out / target);
    std::ofstream(out / target / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

bytes record(const std::string& path, const std::string& contents)
{
    bytes r(size_t(record_length(path.size(), contents.size())));
    put_record_head(r.data(), path.c_str(), uint32_t(contents.size()));
    std::copy(contents.begin(), contents.end(), r.end() - std::ptrdiff_t(contents.size()));
    return r;
}

std::string scrambled(const bytes& plain)
{
    std::string stored(plain.size(), 0);
    scramble_bytes(plain.data(), reinterpret_cast<unsigned char*>(&stored[0]), plain.size());
    return stored;
}

const std::string vars_text = "main=demo.Main\njars=app.jar;lib/util.jar\nmx=512\nversion=1.8.0_292\n";

void packaged_files()
{
    bytes good = image(64);
    add_section(good, 'V', vars_text + '\0');
    add_section(good, 'F', scrambled(record("app.jar", "PK\3\4 the application")));
    add_section(good, 'F', scrambled(record("lib\\util.jar", "PK\3\4")));
    add_section(good, 'B', scrambled(record("glimvaneboot.class", "\xCA\xFE\xBA\xBE")));
    add_section(good, 'J', scrambled(record("getjava.html", "<a href=x>get Java</a>")));
    add_section(good, 'Z', "appended payload");
    save("sections_fuzz", "packaged", good);

    bytes unsigned_payload = good;
    unsigned_payload.back() ^= 1;  // the Z signature fails: error 91
    save("sections_fuzz", "bad_signature", unsigned_payload);

    bytes files_first = image(16);
    add_section(files_first, 'F', scrambled(record("a/../../escape.txt", "x")));
    add_section(files_first, 'V', "mx=64\n");  // no NUL: the copy ends at the payload
    save("sections_fuzz", "files_first", files_first);

    bytes broken_record = image(16);
    add_section(broken_record, 'V', "\n");
    add_section(broken_record, 'F', "");
    bytes cut = record("cut.txt", "contents");
    cut.resize(cut.size() - 1);
    add_section(broken_record, 'F', scrambled(cut));
    save("sections_fuzz", "broken_records", broken_record);
}

void records()
{
    save("extract_fuzz", "plain", record("app.jar", "contents"));
    save("extract_fuzz", "folders", record("lib\\native/x64\\a.so", "\x7f" "ELF"));
    save("extract_fuzz", "empty_file", record("empty", ""));
    save("extract_fuzz", "climbs", record("a/../../escape.txt", "bad"));
    save("extract_fuzz", "blanks_and_dots", record("a/.. /b", "bad"));
    save("extract_fuzz", "absolute", record("/tmp/abs.txt", "bad"));
    save("extract_fuzz", "drive", record("C:\\abs.txt", "bad"));
    save("extract_fuzz", "long_path", record(std::string(200, 'd') + "/" + std::string(40, 'f'), "1"));
    bytes size_too_big = record("ab", "xyz");
    size_too_big[8] = 4;  // the size field sits at n + 6: one byte past the end
    save("extract_fuzz", "size_past_end", size_too_big);
}

void vars_texts()
{
    auto text = [](const std::string& vars, const std::string& key) {
        std::string input = vars + '\0' + key;
        return bytes(input.begin(), input.end());
    };
    save("vars_fuzz", "plain", text(vars_text, "mx"));
    save("vars_fuzz", "version", text(vars_text, "version"));
    save("vars_fuzz", "inside_a_value", text("jop=-Dmx=9\nmx=512\n", "mx"));
    save("vars_fuzz", "last_line_open", text("a=1\nmx=512", "mx"));
    save("vars_fuzz", "error_text", text("41 the file could not be written\n", ""));
    save("vars_fuzz", "wrapping", text("v=4294967297.99999.1.2.3\n", "v"));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    out = argv[1];
    packaged_files();
    records();
    vars_texts();
    return 0;
}
