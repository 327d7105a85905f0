#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep. A broken one aborts, so libFuzzer keeps the input that
// broke it next to the crash report.
#define KR_FUZZ_CHECK(condition)                                                          \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__,     \
                         #condition);                                                     \
            std::abort();                                                                 \
        }                                                                                 \
    } while (false)
