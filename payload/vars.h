// The Vars text (key=value lines) and the number readers shared by the
// launcher.
#pragma once

#include <cstdint>

// A fresh tracked copy of the key's value, or `fallback` itself when the key
// is not found (also when `vars` is null).
char* get_var(const char* vars, const char* key, char* fallback);
// Version number of up to four dotted groups in base 10000; `fill` stands
// in for every missing group.
uint64_t parse_version(const char* text, int32_t fill);
