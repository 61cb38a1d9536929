// The process-wide linear congruential generator. Its state starts at 1, as an unseeded
// generator of this kind does; the demo seeds it before building each random set.

#include "random/Random.h"

namespace {
uint32_t gState = 1;
}

namespace Random {

void srand(uint32_t seed) {
    gState = seed;
}

int rand() {
    // Unsigned arithmetic wraps modulo 2^32, which is exactly the rule.
    gState = gState * 214013u + 2531011u;
    return static_cast<int>((gState >> 16) & 0x7fffu);
}

uint32_t state() {
    return gState;
}

} // namespace Random
