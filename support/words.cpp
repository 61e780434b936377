#include "support/words.h"

#include "support/track.h"

#include <cstring>

int split_args(char* text, char** words)
{
    int count = 0;
    char* cursor = text;
    while (*cursor) {
        if (count == max_words - 1) break;
        while (*cursor == ' ') cursor++;
        if (!*cursor) break;
        char terminator = ' ';
        if (*cursor == '"') {
            terminator = '"';
            cursor++;
        }
        words[count++] = cursor;
        while (*cursor && *cursor != terminator) cursor++;
        if (*cursor == terminator) *cursor++ = 0;
    }
    words[count] = nullptr;
    return count;
}

char* append_quoted(char* command, int site, const char* word)
{
    // At worst every byte doubles, plus the quotes and the NUL.
    size_t length = strlen(word);
    auto* quoted = static_cast<char*>(track_alloc(int32_t(2 * length + 3)));
    char* out = quoted;
    *out++ = '"';
    for (const char* c = word;; c++) {
        size_t slashes = 0;
        while (*c == '\\') {
            slashes++;
            c++;
        }
        // Backslashes are literal unless a quote follows them.
        size_t copies = *c == '"' || !*c ? 2 * slashes : slashes;
        memset(out, '\\', copies);
        out += copies;
        if (!*c) break;
        if (*c == '"') *out++ = '\\';
        *out++ = *c;
    }
    *out++ = '"';
    *out = 0;
    char* result = append_new(command, site, "%s%s", *command ? " " : "", quoted);
    track_free(quoted, site);
    return result;
}
