#include "support/words.h"

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
