// Fuzz target: the input is a Vars text, a NUL and a key. get_var is held
// to the plain reading of its contract (the value after the first "key=",
// up to the next line feed), and the number readers to properties that do
// not depend on how they scan.
#include "fuzz/check.h"
#include "payload/vars.h"
#include "support/report.h"
#include "support/track.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A NUL-terminated copy in a block of exactly its size.
std::unique_ptr<char[]> text_copy(const uint8_t* data, size_t size)
{
    std::unique_ptr<char[]> text(new char[size + 1]);
    memcpy(text.get(), data, size);
    text[size] = 0;
    return text;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

size_t digit_runs(const char* text)
{
    size_t runs = 0;
    for (; *text; text++) runs += is_digit(*text) && !is_digit(text[1]);
    return runs;
}

void check_numbers(const char* text)
{
    // Up to nine leading digits cannot wrap: the code is their decimal value.
    size_t leading = strspn(text, "0123456789");
    int32_t code = error_code_of(text);
    if (leading <= 9) FUZZ_CHECK(code == (leading ? std::stoi(std::string(text, leading)) : 0));

    uint64_t low = parse_version(text, 0), high = parse_version(text, 9999);
    size_t runs = digit_runs(text);
    if (runs >= 4) FUZZ_CHECK(low == high);  // no group is missing
    if (runs == 0) FUZZ_CHECK(low == 0 && high == 9999999999999999u);
    if (runs < 4) FUZZ_CHECK(low != high);   // the last group is a filled one
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* nul = static_cast<const uint8_t*>(memchr(data, 0, size));
    size_t vars_size = nul ? size_t(nul - data) : size;
    std::unique_ptr<char[]> vars = text_copy(data, vars_size);
    std::unique_ptr<char[]> key = nul ? text_copy(nul + 1, size - vars_size - 1) : text_copy(data, 0);

    char fallback[] = "fallback";
    char* value = get_var(vars.get(), key.get(), fallback);
    std::string text(vars.get()), wanted = std::string(key.get()) + "=";
    size_t at = text.find(wanted);
    size_t end = at == std::string::npos ? at : text.find('\n', at + wanted.size());
    if (end == std::string::npos) {
        FUZZ_CHECK(value == fallback);
    } else {
        FUZZ_CHECK(value != fallback && value != vars.get());
        FUZZ_CHECK(text.compare(at + wanted.size(), end - at - wanted.size(), value) == 0);
        check_numbers(value);
        track_free(value, 1);
    }
    FUZZ_CHECK(get_var(nullptr, key.get(), fallback) == fallback);

    check_numbers(vars.get());
    check_numbers(key.get());
    FUZZ_CHECK(error_code_of(nullptr) == 0 && parse_version(nullptr, 0) == 0);
    return 0;
}
