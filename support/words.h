// The word splitter shared by the entry, the VM options and the commands
// the launcher starts.
#pragma once

// The word list every caller of split_args supplies: 99 words and a null.
const int max_words = 100;

// Splits `text` in place at spaces, double quotes grouping, into at most 99
// words; words[count] is null. Returns count.
int split_args(char* text, char** words);

// `command` (a tracked text, released) with `word` added as one word of a
// Windows command line, after a blank unless `command` is empty: in double
// quotes, with each quote inside and each run of backslashes before a quote
// (the closing one too) escaped, so that the C runtime reads the word back
// as it was. A new tracked text.
char* append_quoted(char* command, int site, const char* word);
