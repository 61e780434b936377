// The word splitter shared by the entry, the VM options and the commands
// the launcher starts.
#pragma once

// The word list every caller of split_args supplies: 99 words and a null.
const int max_words = 100;

// Splits `text` in place at spaces, double quotes grouping, into at most 99
// words; words[count] is null. Returns count.
int split_args(char* text, char** words);
