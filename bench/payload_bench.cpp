// Throughput of the section hash, the descrambling and a full enumeration
// of a packaged file of about 100 MB, beside the plain definitions.
#include "payload/extract.h"
#include "payload/sections.h"
#include "payload/tests/oracle.h"
#include "payload/writer.h"
#include "support/track.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

std::vector<unsigned char> random_bytes(size_t length)
{
    std::mt19937_64 random(42);
    std::vector<unsigned char> data(length);
    for (unsigned char& b : data) b = static_cast<unsigned char>(random());
    return data;
}

void BM_section_hash(benchmark::State& state)
{
    std::vector<unsigned char> data = random_bytes(size_t(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(section_hash(data.data(), int32_t(data.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_section_hash)->Arg(4 << 10)->Arg(1 << 20)->Arg(64 << 20);

void BM_plain_hash(benchmark::State& state)
{
    std::vector<unsigned char> data = random_bytes(size_t(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(plain_hash(data.data(), int32_t(data.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_plain_hash)->Arg(1 << 20);

// A section header followed by its payload, as descramble_section reads it.
std::vector<unsigned char> section_of(size_t length)
{
    std::vector<unsigned char> payload = random_bytes(length);
    std::vector<unsigned char> section(size_t(section_header_size) + length);
    put_section_header(section.data(), 'F', payload.data(), int32_t(length));
    std::copy(payload.begin(), payload.end(), section.begin() + section_header_size);
    return section;
}

void BM_descramble_section(benchmark::State& state)
{
    std::vector<unsigned char> section = section_of(size_t(state.range(0)));
    for (auto _ : state) {
        unsigned char* plain = descramble_section(section.data());
        benchmark::DoNotOptimize(plain);
        track_free(plain, 1);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_descramble_section)->Arg(4 << 10)->Arg(1 << 20)->Arg(16 << 20);

void BM_plain_descramble(benchmark::State& state)
{
    std::vector<unsigned char> in = random_bytes(size_t(state.range(0))), out(in.size());
    for (auto _ : state) {
        plain_descramble(in.data(), out.data(), in.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_plain_descramble)->Arg(1 << 20);

// A 2 MB image, a Vars section and 50 file sections of 2 MB each, walked
// the way the launcher walks it: every header found, every payload hashed.
void BM_enumerate_100mb(benchmark::State& state)
{
    std::vector<unsigned char> file = random_bytes(2 << 20);
    std::vector<unsigned char> payload = random_bytes(2 << 20);
    auto add = [&](char type, const unsigned char* data, size_t length) {
        file.resize((file.size() + 15) / 16 * 16 + size_t(section_header_size));
        put_section_header(&file[file.size() - size_t(section_header_size)], type, data, int32_t(length));
        file.insert(file.end(), data, data + length);
    };
    const char vars[] = "jars=app.jar\n";
    add('V', reinterpret_cast<const unsigned char*>(vars), sizeof vars);
    for (int i = 0; i < 50; i++) add('F', payload.data(), payload.size() - size_t(i));
    const int32_t length = int32_t(file.size());
    for (auto _ : state) {
        int found = 0;
        for (int32_t r = find_section(file.data(), 0, length); r > 0;
             r = find_section(file.data(), r + section_header_size + section_payload_length(&file[size_t(r)]), length))
            found++;
        if (found != 51) state.SkipWithError("sections lost");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * length);
}
BENCHMARK(BM_enumerate_100mb)->Unit(benchmark::kMillisecond);

}  // namespace
