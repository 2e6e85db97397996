// A check for fuzz targets that stays active in every build type: a broken
// property is reported with its condition and ends the run, so that the
// fuzzer records the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define QEX_FUZZ_CHECK(condition)                                                   \
    do {                                                                            \
        if (!(condition)) {                                                         \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, \
                         #condition);                                               \
            std::abort();                                                           \
        }                                                                           \
    } while (0)
