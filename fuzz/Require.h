// What a fuzz target does when a property it checks is broken: says which, and stops, so that
// libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tarnwick::fuzz {

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

} // namespace tarnwick::fuzz
