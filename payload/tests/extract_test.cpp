#include "os/os.h"
#include "payload/extract.h"
#include "payload/kernels.h"
#include "payload/tests/fixture.h"
#include "payload/tests/oracle.h"
#include "payload/writer.h"
#include "support/paths.h"
#include "support/switches.h"
#include "support/track.h"
#include "tests/fs_util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <random>
#include <sys/resource.h>

#include <zlib.h>

namespace {

TEST(Scrambling, Vectors)
{
    unsigned char out[3];
    scramble_bytes(data_of("abc"), out, 3);
    EXPECT_EQ(bytes(out, out + 3), (bytes{0xC5, 0xC7, 0xC5}));
    const unsigned char zeros[3] = {0, 0, 0};
    scramble_bytes(zeros, out, 3);
    EXPECT_EQ(bytes(out, out + 3), (bytes{0x64, 0x65, 0x66}));
    const unsigned char scrambled[3] = {0xC5, 0xC7, 0xC5};
    descramble_bytes(scrambled, out, 3);
    EXPECT_EQ(std::string(out, out + 3), "abc");
}

TEST(Scrambling, IndexWrapsEvery256Bytes)
{
    bytes plain(600, 'z'), scrambled(600);
    scramble_bytes(plain.data(), scrambled.data(), plain.size());
    EXPECT_EQ(scrambled[0], scrambled[256]);
    EXPECT_EQ(scrambled[1], scrambled[513]);
    EXPECT_NE(scrambled[0], scrambled[1]);
}

TEST(Scrambling, BothKernelsMatchTheRuleAndRoundTrip)
{
    std::mt19937 random(3);
    bytes data(5000);
    for (unsigned char& b : data) b = static_cast<unsigned char>(random());
    bytes whole(data.size());
    plain_descramble(data.data(), whole.data(), data.size());
    for (auto kernel : {descramble_scalar, descramble_wide}) {
        if (kernel == descramble_wide && !wide_usable()) continue;
        for (size_t length : {size_t(0), size_t(1), size_t(31), size_t(255), size_t(256), size_t(257), size_t(4999)}) {
            bytes out(length), expected(length), back(length);
            kernel(&data[1], out.data(), length, 0);
            plain_descramble(&data[1], expected.data(), length);
            EXPECT_EQ(out, expected) << length;
            scramble_bytes(out.data(), back.data(), length);
            EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin() + 1)) << length;
        }
        // A run that starts inside the payload: the XOR values go on from
        // there. In place, as the extraction does it.
        for (size_t first : {size_t(1), size_t(31), size_t(255), size_t(256), size_t(300)}) {
            bytes out(data.begin() + long(first), data.begin() + long(first) + 1000);
            kernel(out.data(), out.data(), out.size(), first);
            EXPECT_TRUE(std::equal(out.begin(), out.end(), whole.begin() + long(first))) << first;
        }
    }
}

TEST(Scrambling, DescrambleSectionUndoesTheWholePayload)
{
    bytes file = image();
    std::string plain(700, 0);
    for (size_t i = 0; i < plain.size(); i++) plain[i] = char(i * 13);
    std::string stored(plain.size(), 0);
    scramble_bytes(data_of(plain), reinterpret_cast<unsigned char*>(&stored[0]), plain.size());
    int32_t at = add_section(file, 'F', stored);
    unsigned char* out = descramble_section(&file[size_t(at)]);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), plain.size()), plain);
    track_free(out, 1);
}

// A plain record in a buffer of exactly its own size, so that any read past
// it is caught by AddressSanitizer.
struct record {
    std::unique_ptr<unsigned char[]> data;
    int32_t length;
};

record make_record(const std::string& path, const std::string& contents)
{
    size_t length = size_t(record_length(path.size(), uint32_t(contents.size())));
    record r{std::unique_ptr<unsigned char[]>(new unsigned char[length]), int32_t(length)};
    put_record_head(r.data.get(), path.c_str(), uint32_t(contents.size()));
    memcpy(r.data.get() + length - contents.size(), contents.data(), contents.size());
    return r;
}

record raw_record(const bytes& content)
{
    record r{std::unique_ptr<unsigned char[]>(new unsigned char[content.size()]), int32_t(content.size())};
    if (!content.empty()) memcpy(r.data.get(), content.data(), content.size());
    return r;
}

// Points the process-wide temp folder at a fresh scratch folder.
struct temp_fixture : ::testing::Test {
    scratch_dir scratch;
    fs::path temp;
    void SetUp() override
    {
        temp = scratch.path / "GV1234";
        fs::create_directories(temp);
        snprintf(temp_folder, sizeof temp_folder, "%s", temp.c_str());
    }
    void TearDown() override
    {
        os_fault_clear();
        debug_flag = false;
        temp_folder[0] = 0;
    }
    // The number of entries below the scratch folder, temp folder included.
    size_t entries()
    {
        size_t n = 0;
        for (auto it = fs::recursive_directory_iterator(scratch.path); it != fs::recursive_directory_iterator(); ++it) n++;
        return n;
    }
};

using ExtractFile = temp_fixture;

TEST_F(ExtractFile, WritesRecordsWithTheirFolders)
{
    struct write_case {
        const char* name;
        std::string path;
        std::string contents;
        fs::path written;
    };
    const write_case cases[] = {
        {"plain", "app.jar", "PK jar", "app.jar"},
        {"empty file counts as written", "empty.txt", "", "empty.txt"},
        {"backslash sub-folders", "lib\\x86\\a.dll", "dll", "lib/x86/a.dll"},
        {"slash sub-folders", "res/img/i.png", "png", "res/img/i.png"},
        {"dots inside names", "a..b/...c/.x", "dots", "a..b/...c/.x"},
    };
    for (const write_case& c : cases) {
        record r = make_record(c.path, c.contents);
        char* full = extract_file(r.data.get(), r.length);
        ASSERT_NE(full, nullptr) << c.name;
        EXPECT_EQ(fs::path(full), temp / c.written) << c.name;
        EXPECT_EQ(read_text(temp / c.written), c.contents) << c.name;
        track_free(full, 1);
    }
}

TEST_F(ExtractFile, OverwritesAnExistingFile)
{
    write_text(temp / "a.txt", "a much longer old text");
    record r = make_record("a.txt", "new");
    char* full = extract_file(r.data.get(), r.length);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(read_text(temp / "a.txt"), "new");
    track_free(full, 1);
}

TEST_F(ExtractFile, LogsTheStoredPathOnce)
{
    debug_flag = true;
    record r = make_record("lib\\a.dll", "x");
    testing::internal::CaptureStdout();
    char* full = extract_file(r.data.get(), r.length);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(full, nullptr);
    EXPECT_EQ(out.find("!extracted=lib\\a.dll ["), 0u) << out;
    EXPECT_EQ(out.find("extracted=", 2), std::string::npos) << out;
    track_free(full, 1);
}

TEST_F(ExtractFile, RefusesRecordsThatBreakTheirBoundsOrLeaveTheFolder)
{
    // A good record for "ab" with 3 bytes: 02 'a' 'b' 00 | 0 0 0 0 | 03 0 0 0 | x y z
    const bytes good = {2, 'a', 'b', 0, 0, 0, 0, 0, 3, 0, 0, 0, 'x', 'y', 'z'};
    auto with = [&](size_t at, unsigned char value) {
        bytes b = good;
        b[at] = value;
        return b;
    };
    struct refuse_case {
        const char* name;
        bytes record;
    };
    const refuse_case bounds[] = {
        {"shorter than 10 bytes", bytes(good.begin(), good.begin() + 9)},
        {"contents one byte short", bytes(good.begin(), good.end() - 1)},
        {"size 0xFFFFFFFF", [&] { bytes b = good; b[8] = b[9] = b[10] = b[11] = 0xFF; return b; }()},
        {"no NUL before n + 6", [&] { bytes b = good; for (int i = 1; i < 8; i++) b[size_t(i)] = 'q'; return b; }()},
        {"n runs past the payload", with(0, 250)},
    };
    for (const refuse_case& c : bounds) {
        record r = raw_record(c.record);
        os_set_last_error(0);
        EXPECT_EQ(extract_file(r.data.get(), r.length), nullptr) << c.name;
        EXPECT_EQ(os_last_error(), os_error_invalid_data) << c.name;
    }
    const char* unsafe[] = {"../escape.txt", "..\\escape.txt", "a/../../escape.txt", "a\\..\\b", "..", "a/.. /b", "...\\b",
                            "/tmp/abs.txt", "\\abs.txt", "C:\\abs.txt", "c:rel.txt", ""};
    for (const char* path : unsafe) {
        record r = make_record(path, "bad");
        os_set_last_error(0);
        EXPECT_EQ(extract_file(r.data.get(), r.length), nullptr) << path;
        EXPECT_EQ(os_last_error(), os_error_invalid_data) << path;
    }
    EXPECT_EQ(entries(), 1u) << "nothing written beside or below the temp folder";

    record exact = raw_record(good);
    char* full = extract_file(exact.data.get(), exact.length);
    ASSERT_NE(full, nullptr) << "contents ending exactly at the payload end";
    EXPECT_EQ(read_text(temp / "ab"), "xyz");
    track_free(full, 1);
}

TEST_F(ExtractFile, RefusesAFullPathOver259Bytes)
{
    size_t room = extract_path_limit - strlen(temp_folder) - 1;
    record fits = make_record(std::string(room - 4, 'd') + "/f.x", "1");
    record over = make_record(std::string(room - 3, 'd') + "/f.x", "1");
    char* full = extract_file(fits.data.get(), fits.length);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(strlen(full), extract_path_limit);
    EXPECT_EQ(extract_file(over.data.get(), over.length), nullptr);
    track_free(full, 1);
}

TEST_F(ExtractFile, TriesOnceMoreAfterMakingFoldersThenGivesUp)
{
    record r = make_record("a.txt", "x");
    os_fault_set(OS_CALL_FILE_WRITE, 1, 1, 28);
    char* full = extract_file(r.data.get(), r.length);
    ASSERT_NE(full, nullptr) << "the second write succeeds";
    EXPECT_EQ(read_text(temp / "a.txt"), "x");
    track_free(full, 1);

    os_fault_set(OS_CALL_FILE_CREATE, 1, 2, 5);
    EXPECT_EQ(extract_file(r.data.get(), r.length), nullptr);
    EXPECT_EQ(os_last_error(), 5) << "the error of the failed write reaches the driver";
    EXPECT_FALSE(os_fault_hit(OS_CALL_FILE_CREATE)) << "exactly two attempts";
}

// A file-size limit cuts a write short for real, as a full disk does: the
// system sets no error then, and the one left by an earlier call must not
// be reported.
TEST_F(ExtractFile, AShortWriteIsReportedAsAFullDisk)
{
    record r = make_record("big.bin", std::string(20000, 'b'));
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    os_set_last_error(2);
    char* full = extract_file(r.data.get(), r.length);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, handler);
    EXPECT_EQ(full, nullptr);
    EXPECT_EQ(os_last_error(), os_error_disk_full);
    EXPECT_EQ(fs::file_size(temp / "big.bin"), 4096u) << "the write was cut short, not refused";
}

// A file section holding the scrambled form of a record, as the packer
// writes it.
int32_t add_file_section(bytes& file, const record& r)
{
    std::string stored(size_t(r.length), 0);
    scramble_bytes(r.data.get(), reinterpret_cast<unsigned char*>(&stored[0]), stored.size());
    return add_section(file, 'F', stored);
}

TEST_F(ExtractFile, SectionsStreamByteIdenticalThroughTheBuffer)
{
    std::mt19937 random(5);
    // Sizes around the 256 KiB buffer; the contents start at an odd
    // payload position, so every chunk starts inside a 256-byte block.
    for (size_t size : {size_t(0), size_t(1), size_t(262143), size_t(262144), size_t(700001)}) {
        std::string contents(size, 0);
        for (char& c : contents) c = char(random());
        bytes file = image();
        int32_t at = add_file_section(file, make_record("lib/big.jar", contents));
        char* full = extract_section(&file[size_t(at)]);
        ASSERT_NE(full, nullptr) << size;
        EXPECT_TRUE(read_text(temp / "lib" / "big.jar") == contents) << size;
        track_free(full, 1);
    }
}

TEST_F(ExtractFile, SectionsRefuseWhatRecordsRefuseAndRewriteAfterAFailedChunk)
{
    bytes file = image();
    int32_t escape = add_file_section(file, make_record("../escape.txt", "bad"));
    int32_t tiny = add_file_section(file, raw_record({2, 'a', 'b'}));
    std::string contents(600000, 'q');
    contents[599999] = 'e';
    int32_t big = add_file_section(file, make_record("big.bin", contents));
    EXPECT_EQ(extract_section(&file[size_t(escape)]), nullptr);
    EXPECT_EQ(extract_section(&file[size_t(tiny)]), nullptr);
    EXPECT_EQ(os_last_error(), os_error_invalid_data);
    EXPECT_EQ(entries(), 1u);

    // The second chunk's write fails: the retry writes the whole file anew.
    os_fault_set(OS_CALL_FILE_WRITE, 2, 1, 28);
    char* full = extract_section(&file[size_t(big)]);
    ASSERT_NE(full, nullptr);
    EXPECT_TRUE(read_text(temp / "big.bin") == contents);
    track_free(full, 1);
    os_fault_set(OS_CALL_FILE_WRITE, 2, -1, 28);
    EXPECT_EQ(extract_section(&file[size_t(big)]), nullptr);
    EXPECT_EQ(os_last_error(), 28);
}

// The payload of a compressed section: the record head with the CRC-32
// of `plain` and the plain size `size`, then `stream`.
std::string compressed_payload(const std::string& path, uint32_t size, uint32_t crc, const std::string& stream)
{
    std::string head(1, char(path.size()));
    head += path + '\0';
    for (uint32_t v : {crc, size})
        for (int i = 0; i < 4; i++) head += char(v >> (8 * i));
    return head + stream;
}

std::string zlib_stream(const std::string& plain)
{
    uLongf n = compressBound(uLong(plain.size()));
    std::string out(n, 0);
    compress2(reinterpret_cast<Bytef*>(&out[0]), &n, data_of(plain), uLong(plain.size()), 6);
    out.resize(n);
    return out;
}

uint32_t crc_of(const std::string& plain)
{
    return uint32_t(crc32(0, data_of(plain), uInt(plain.size())));
}

// Untrusted compressed bytes: the output is bounded by the record's size,
// and a file counts as written only with the right length and CRC-32; a
// refused one leaves no file.
TEST_F(ExtractFile, CompressedSectionsInflateOnlyWhatTheirHeadPromises)
{
    std::mt19937 random(9);
    std::string big(700001, 0);
    for (size_t i = 0; i < big.size(); i++) big[i] = char(random() % 7);  // compresses, spans the buffer
    const std::string text = "contents of a compressed file\n";
    std::string stream = zlib_stream(big);
    uint32_t size = uint32_t(big.size()), crc = crc_of(big);
    struct compressed_case {
        const char* name;
        std::string payload;
        bool written;
    };
    const compressed_case cases[] = {
        {"whole", compressed_payload("lib/c.bin", size, crc, stream), true},
        {"empty file", compressed_payload("lib/c.bin", 0, crc_of(""), zlib_stream("")), true},
        {"stream longer than the size", compressed_payload("lib/c.bin", size - 1, crc, stream), false},
        {"stream shorter than the size", compressed_payload("lib/c.bin", size + 1, crc, stream), false},
        {"another checksum", compressed_payload("lib/c.bin", size, crc ^ 1, stream), false},
        {"stream cut short", compressed_payload("lib/c.bin", size, crc, stream.substr(0, stream.size() / 2)), false},
        {"bytes after the stream", compressed_payload("lib/c.bin", size, crc, stream + "x"), false},
        {"its trailer left out", compressed_payload("lib/c.bin", size, crc, stream.substr(0, stream.size() - 4)), false},
        {"a preset dictionary", compressed_payload("lib/c.bin", size, crc, "\x78\xbb" + stream.substr(2)), false},
        {"no stream", compressed_payload("lib/c.bin", size, crc, std::string(40, 'z')), false},
        {"a size of 4 GB less one", compressed_payload("lib/c.bin", 0xFFFFFFFFu, crc, stream), false},
        {"path leaving the folder", compressed_payload("../c.bin", uint32_t(text.size()), crc_of(text), zlib_stream(text)), false},
    };
    for (const compressed_case& c : cases) {
        fs::remove_all(temp / "lib");
        bytes file = image();
        int32_t at = add_section(file, compressed_type, c.payload);
        char* full = extract_section(&file[size_t(at)]);
        EXPECT_EQ(full != nullptr, c.written) << c.name;
        if (c.written) {
            bool empty = std::string(c.name) == "empty file";
            EXPECT_TRUE(read_text(temp / "lib" / "c.bin") == (empty ? "" : big)) << c.name;
        } else {
            EXPECT_EQ(os_last_error(), os_error_invalid_data) << c.name;
            EXPECT_FALSE(fs::exists(temp / "lib" / "c.bin")) << c.name;
        }
        track_free(full, 1);
    }
}

// The head of a compressed record, then a part's offset and its file's size.
std::string part_payload(const std::string& path, const std::string& plain, uint32_t offset, uint32_t whole,
                         const std::string& stream)
{
    std::string head = compressed_payload(path, uint32_t(plain.size()), crc_of(plain), "");
    for (uint32_t v : {offset, whole})
        for (int i = 0; i < 4; i++) head += char(v >> (8 * i));
    return head + stream;
}

// Parts land at their offsets whichever is written first, and each is
// checked as a compressed record is; a part that would end beyond its
// file's size is refused before anything is written.
TEST_F(ExtractFile, PartsOfAFileFillItInAnyOrder)
{
    std::string a(300000, 'a'), b(200001, 'b');
    uint32_t whole = uint32_t(a.size() + b.size());
    bytes file = image();
    int32_t first = add_section(file, compressed_part_type, part_payload("lib/p.bin", a, 0, whole, zlib_stream(a)));
    int32_t second = add_section(file, compressed_part_type,
                                 part_payload("lib/p.bin", b, uint32_t(a.size()), whole, zlib_stream(b)));
    EXPECT_TRUE(section_starts_file(&file[size_t(first)]));
    EXPECT_FALSE(section_starts_file(&file[size_t(second)]));
    for (int32_t at : {second, first}) {
        char* full = extract_section(&file[size_t(at)]);
        EXPECT_NE(full, nullptr) << at;
        track_free(full, 1);
    }
    EXPECT_TRUE(read_text(temp / "lib" / "p.bin") == a + b);

    const struct {
        const char* name;
        std::string payload;
    } refused[] = {
        {"beyond its file", part_payload("lib/q.bin", b, whole - 1, whole, zlib_stream(b))},
        {"a stream of other bytes", part_payload("lib/q.bin", b, 0, whole, zlib_stream(a))},
        {"no room for its place", compressed_payload("lib/q.bin", 0, crc_of(""), "1234567")},
    };
    for (const auto& c : refused) {
        bytes damaged = image();
        int32_t at = add_section(damaged, compressed_part_type, c.payload);
        EXPECT_EQ(extract_section(&damaged[size_t(at)]), nullptr) << c.name;
        EXPECT_EQ(os_last_error(), os_error_invalid_data) << c.name;
    }
}

TEST_F(ExtractFile, MakeDirsCreatesEveryFolderButTheFileName)
{
    const char relative[] = "lib\\x86/a.dll";
    make_dirs(temp_folder, relative);
    EXPECT_TRUE(fs::is_directory(temp / "lib" / "x86"));
    EXPECT_FALSE(fs::exists(temp / "lib" / "x86" / "a.dll"));
    EXPECT_STREQ(relative, "lib\\x86/a.dll") << "the caller's text stays unchanged";
    make_dirs(temp_folder, relative);  // existing folders are no failure
    EXPECT_TRUE(fs::is_directory(temp / "lib" / "x86"));
}

TEST(WriteWholeFile, CreatesAndReportsFailure)
{
    scratch_dir scratch;
    fs::path path = scratch.path / "f.bin";
    EXPECT_TRUE(write_whole_file(path.c_str(), "abc", 3));
    EXPECT_EQ(read_text(path), "abc");
    EXPECT_FALSE(write_whole_file((scratch.path / "no" / "f.bin").c_str(), "abc", 3));
}

}  // namespace
