// A failed property aborts, which libFuzzer reports as a crash with its input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                               \
    do {                                                                    \
        if (!(condition)) {                                                 \
            std::fprintf(stderr, "check failed: %s\n", #condition);         \
            std::abort();                                                   \
        }                                                                   \
    } while (false)
