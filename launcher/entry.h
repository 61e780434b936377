// The entry point, the word splitter and the leading switches.
#pragma once

#include "support/words.h"

// The start-up initialisers (exit lock, then the log's start stamp); the
// executable runs them before its entry.
void launcher_startup();

// GUI entry: the command text after the program name.
int launcher_entry(void* instance, void* previous, char* command_text, int show);
// POSIX entry: the words after the program name, already split.
int launcher_entry_words(int count, char** words);

// 1 when words[0] is a switch and consumed, 0 otherwise; does not return for
// "-deltree*". `remaining` counts the words from words[0] to the end.
int parse_switch(int remaining, char** words);
// Applies the leading switches; returns how many words they took. The first
// word that is not a switch and all after it belong to the application.
int consume_switches(int count, char** words);
// Consumes the leading switches, prepares the console, runs the driver.
void launcher_start(int count, char** words);

// The launch driver; ends the process.
[[noreturn]] void launcher_main(int count, char** words);
