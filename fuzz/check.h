// The fuzz targets' oracle: a broken invariant aborts, which libFuzzer
// reports as a crash and saves the input for.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);      \
            abort();                                                                           \
        }                                                                                      \
    } while (0)
