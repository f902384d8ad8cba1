#pragma once

#include <cstdio>
#include <cstdlib>

namespace kelvora::fuzz {

// Stops the run on a violated property; libFuzzer then keeps the input that
// caused it as a crash artifact.
inline void Require(bool holds, const char *property)
{
    if (holds)
        return;
    std::fprintf(stderr, "property violated: %s\n", property);
    std::abort();
}

} // namespace kelvora::fuzz
