#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// A property that fails is a finding just like a crash: abort, so that libFuzzer keeps the input
// as a crash artifact and a seed replay fails loudly.
#define FUZZ_REQUIRE(condition)                                                                    \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::fuzzcheck::Fail(#condition, __FILE__, __LINE__);                                     \
    } while (false)

namespace fuzzcheck {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "property failed: %s (%s:%d)\n", what, file, line);
    std::abort();
}

inline bool IsControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

} // namespace fuzzcheck
