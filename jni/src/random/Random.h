#pragma once
// The linear congruential generator the point sets are built from:
// state = state * 214013 + 2531011 (mod 2^32), result = (state >> 16) & 0x7fff.
// One process-wide state, shared by the demo's start-up and the strand generation.

#include <cstdint>

namespace Random {
void srand(uint32_t seed);
int rand();
uint32_t state();
} // namespace Random
