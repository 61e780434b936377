#include "os/os.h"
#include "payload/kernels.h"
#include "payload/sections.h"
#include "payload/tests/fixture.h"
#include "payload/tests/oracle.h"
#include "payload/writer.h"
#include "tests/fs_util.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(SectionHash, Vectors)
{
    uint64_t abc = section_hash(data_of("abc"), 3);
    EXPECT_EQ(abc, 0x0009EF504C888E11u);
    EXPECT_EQ(uint32_t(abc >> 16), 0xEF504C88u);
    EXPECT_EQ(hash_inverse(abc), 0x18F3F775035422F1u);
    EXPECT_EQ(section_hash(data_of(""), 0), 1u);
    EXPECT_EQ(section_hash(data_of("abc"), -1), 1u);
    EXPECT_EQ(hash_inverse(1), 1u);
}

TEST(SectionHash, MatchesTheDefinitionForEveryLengthAndAlignment)
{
    std::mt19937 random(7);
    bytes data(70000);
    for (unsigned char& b : data) b = static_cast<unsigned char>(random());
    for (int32_t length = 0; length < 300; length++)
        for (int shift = 0; shift < 3; shift++)
            ASSERT_EQ(section_hash(&data[size_t(shift)], length), plain_hash(&data[size_t(shift)], length))
                << length << " at " << shift;
    for (int32_t length : {4095, 65536, 69997})
        EXPECT_EQ(section_hash(&data[3], length), plain_hash(&data[3], length)) << length;
}

// Both kernels, for pieces that start anywhere in a run: the terms of the
// pieces XORed together give the hash of the whole run.
TEST(SectionHash, KernelsAgreeOnPiecesAtEveryOffset)
{
    std::mt19937 random(5);
    bytes data(5000);
    for (unsigned char& b : data) b = static_cast<unsigned char>(random());
    for (auto kernel : {hash_terms_scalar, hash_terms_wide}) {
        if (kernel == hash_terms_wide && !wide_usable()) continue;
        for (size_t cut = 0; cut < 100; cut++)
            for (size_t length : {cut + 1, cut + 31, cut + 64, cut + 97, size_t(5000)}) {
                uint64_t whole = (kernel(data.data(), cut, 0) ^ kernel(&data[cut], length - cut, uint32_t(cut))) | 1;
                ASSERT_EQ(whole, plain_hash(data.data(), int32_t(length))) << cut << " " << length;
            }
    }
}

TEST(SectionHash, InverseOfRandomOddNumbers)
{
    std::mt19937_64 random(11);
    for (int i = 0; i < 1000; i++) {
        uint64_t odd = random() | 1;
        EXPECT_EQ(odd * hash_inverse(odd), 1u);
    }
}

TEST(HeaderValid, EveryHeaderByteIsCovered)
{
    bytes header(section_header_size);
    put_section_header(header.data(), 'F', data_of("abc"), 3);
    ASSERT_TRUE(header_valid(header.data()));
    EXPECT_EQ(std::string(header.begin(), header.begin() + 15), "JKMNPQSTVWYZ\\]_");
    EXPECT_EQ(section_signature(header.data()), 0x18F3F775035422F1u);
    for (size_t i = 0; i < header.size(); i++) {
        bytes changed = header;
        changed[i] ^= 0x01;
        EXPECT_FALSE(header_valid(changed.data())) << "byte " << i;
    }
}

struct package {
    bytes file;
    std::vector<int32_t> offsets;
};

// An image, a Vars section, a file section and an empty Z section.
package good_package()
{
    package p{image(), {}};
    p.offsets.push_back(add_section(p.file, 'V', std::string("a=b\n", 5)));
    p.offsets.push_back(add_section(p.file, 'F', std::string(300, 'q')));
    p.offsets.push_back(add_section(p.file, 'Z', ""));
    p.file.push_back(0);  // the scan needs a byte behind the last header
    return p;
}

TEST(FindSection, EnumeratesExactlyTheSectionsWritten)
{
    package p = good_package();
    EXPECT_EQ(enumerate(p.file), p.offsets);
    EXPECT_EQ(p.offsets[0], 112);  // the first multiple of 16 after the image
    for (int32_t at : p.offsets) EXPECT_TRUE(payload_signed(&p.file[size_t(at)]));
    // A start inside a header is rounded down to it.
    EXPECT_EQ(find_section(p.file.data(), p.offsets[1] + 9, int32_t(p.file.size())), p.offsets[1]);
}

TEST(FindSection, LargePayloadsVerifyOnTwoCoresAndEveryByteCounts)
{
    // Odd lengths above the size from which the second half is hashed on
    // a thread of its own; a change at either end or at the middle fails.
    std::mt19937 random(13);
    for (size_t length : {size_t(4 << 20), size_t((5 << 20) + 33)}) {
        std::string payload(length, 0);
        for (char& c : payload) c = char(random());
        bytes file = image();
        int32_t at = add_section(file, 'F', payload);
        EXPECT_EQ(find_section(file.data(), 0, int32_t(file.size())), at) << length;
        for (size_t where : {size_t(0), length / 2 - 1, length / 2, length - 1}) {
            bytes damaged = file;
            damaged[size_t(at + section_header_size) + where] ^= 1;
            EXPECT_EQ(find_section(damaged.data(), 0, int32_t(damaged.size())), -91) << length << " at " << where;
        }
    }
}

TEST(FindSection, DamagedFiles)
{
    const package good = good_package();
    const int32_t v = good.offsets[0], f = good.offsets[1];
    struct damage_case {
        const char* name;
        bytes file;
        std::vector<int32_t> found;
    };
    std::vector<damage_case> cases;

    bytes flipped = good.file;
    flipped[size_t(f) + 32 + 150] ^= 0x40;
    cases.push_back({"payload byte flipped", flipped, {v, -91}});

    bytes trailing = good.file;
    for (int i = 0; i < 100; i++) trailing.push_back(static_cast<unsigned char>(i * 7));
    cases.push_back({"trailing data", trailing, good.offsets});

    bytes cut(good.file.begin(), good.file.end() - 1);
    cases.push_back({"a header whose last byte ends the file is never examined", cut, {v, f}});

    // A header moved by 8 bytes keeps its check but is no longer on the grid.
    bytes unaligned = image();
    add_section(unaligned, 'V', std::string("a=b\n", 5));
    bytes header(32);
    put_section_header(header.data(), 'F', data_of("abc"), 3);
    unaligned.resize(unaligned.size() + 8 + (16 - unaligned.size() % 16) % 16, 0);
    unaligned.insert(unaligned.end(), header.begin(), header.end());
    unaligned.insert(unaligned.end(), {'a', 'b', 'c', 0});
    cases.push_back({"header off the 16-byte grid", unaligned, {v}});

    // A valid header that claims 1000 payload bytes, with a real section
    // behind it inside the file.
    bytes past_end = image();
    std::string long_payload(1000, 'p');
    int32_t claimed = int32_t(past_end.size() + 15) / 16 * 16;
    past_end.resize(size_t(claimed) + 32, 0);
    put_section_header(&past_end[size_t(claimed)], 'F', data_of(long_payload), 1000);
    int32_t later = add_section(past_end, 'V', std::string("k=v\n", 5));
    past_end.push_back(0);
    cases.push_back({"payload past the end is skipped", past_end, {later}});

    for (const damage_case& c : cases) EXPECT_EQ(enumerate(c.file), c.found) << c.name;
}

TEST(FindSection, PayloadBoundsComeInThrees)
{
    bytes file = image();
    int32_t at = add_section(file, 'F', std::string(20, 'r'));
    const int32_t end = int32_t(file.size());
    EXPECT_EQ(find_section(file.data(), 0, end), at) << "ends exactly at the file end";
    EXPECT_EQ(find_section(file.data(), 0, end - 1), 0) << "one byte over";
    for (int i = 0; i < 4; i++) file[size_t(at) + 24 + size_t(i)] = 0xFF;
    // Re-sign the header check for the huge length so only the bound refuses it.
    uint32_t check = uint32_t(section_hash(&file[size_t(at)], 28) >> 16);
    for (int i = 0; i < 4; i++) file[size_t(at) + 28 + size_t(i)] = static_cast<unsigned char>(check >> (8 * i));
    ASSERT_TRUE(header_valid(&file[size_t(at)]));
    EXPECT_EQ(find_section(file.data(), 0, end), 0) << "length 0xFFFFFFFF";
}

TEST(FindSection, NothingBeforeTheFirstSectionAndNoneAfterTheLast)
{
    bytes file = image(4096);
    EXPECT_EQ(find_section(file.data(), 0, int32_t(file.size())), 0);
    EXPECT_EQ(find_section(file.data(), 0, 32), 0);
    EXPECT_EQ(find_section(file.data(), 0, 0), 0);
}

TEST(MapSelf, MapsTheWholeFileAndReleasesIt)
{
    scratch_dir scratch;
    fs::path path = scratch.path / "app.exe";
    write_text(path, "0123456789abcdefXYZ");
    const unsigned char* base = nullptr;
    ASSERT_EQ(map_self(path.c_str(), &base), 19);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(base), 19), "0123456789abcdefXYZ");
    EXPECT_EQ(unmap_self(), 0);
    EXPECT_EQ(unmap_self(), 0) << "a second release holds nothing";
}

TEST(MapSelf, FailuresGiveMinusOneAndUnmapStaysHarmless)
{
    scratch_dir scratch;
    const unsigned char* base = nullptr;
    EXPECT_EQ(map_self((scratch.path / "missing.exe").c_str(), &base), -1);
    EXPECT_EQ(unmap_self(), 0);

    fs::path path = scratch.path / "app.exe";
    write_text(path, "data");
    os_fault_set(OS_CALL_MAP_FILE, 1, 1, 5);
    EXPECT_EQ(map_self(path.c_str(), &base), -1);
    EXPECT_EQ(os_last_error(), 5);
    os_fault_clear();
    EXPECT_EQ(unmap_self(), 0);
}

TEST(FileExists, FilesAndFolders)
{
    scratch_dir scratch;
    write_text(scratch.path / "f", "x");
    EXPECT_TRUE(file_exists((scratch.path / "f").c_str()));
    EXPECT_TRUE(file_exists(scratch.path.c_str()));
    EXPECT_FALSE(file_exists((scratch.path / "g").c_str()));
}

}  // namespace
