#pragma once
// The linear congruential generator the point sets are built from:
// state = state * 214013 + 2531011 (mod 2^32), result = (state >> 16) & 0x7fff.
// One process-wide state, shared by the demo's start-up and the strand generation.
// rand() is inline: the random sets draw 2.5 million numbers while loading.

#include <cstdint>

namespace Random {

namespace detail {
extern uint32_t state;
}

void srand(uint32_t seed);
uint32_t state();

inline int rand() {
    // Unsigned arithmetic wraps modulo 2^32, which is exactly the rule.
    detail::state = detail::state * 214013u + 2531011u;
    return static_cast<int>((detail::state >> 16) & 0x7fffu);
}

} // namespace Random
