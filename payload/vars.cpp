#include "payload/vars.h"

#include "support/track.h"

#include <cstring>

char* get_var(const char* vars, const char* key, char* fallback)
{
    if (!vars) return fallback;
    // The first occurrence of key followed by "=", wherever it starts: a
    // match inside a longer key or inside an earlier value counts.
    size_t key_length = strlen(key);
    const char* match = vars;
    while ((match = strstr(match, key)) && match[key_length] != '=') {
        if (!match[key_length]) return fallback;  // the key ends the text
        match++;
    }
    if (!match) return fallback;
    const char* value = match + key_length + 1;
    const char* end = strchr(value, '\n');
    if (!end) return fallback;  // a last line without its line feed is never found
    auto* copy = static_cast<char*>(track_alloc(int32_t(end - value + 1)));
    memcpy(copy, value, size_t(end - value));
    return copy;
}

uint64_t parse_version(const char* text, int32_t fill)
{
    if (!text) text = "";
    uint64_t value = 0;
    for (int g = 0; g < 4; g++) {
        while (*text && (*text < '0' || *text > '9')) text++;
        int32_t group = fill;
        if (*text) {
            uint32_t digits = 0;
            for (; *text >= '0' && *text <= '9'; text++) digits = digits * 10 + uint32_t(*text - '0');
            group = int32_t(digits);
        }
        value = value * 10000 + uint64_t(int64_t(group));
    }
    return value;
}
