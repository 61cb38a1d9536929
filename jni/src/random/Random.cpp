// The process-wide linear congruential generator. Its state starts at 1, as an unseeded
// generator of this kind does; the demo seeds it before building each random set.

#include "random/Random.h"

namespace Random {

namespace detail {
uint32_t state = 1;
}

void srand(uint32_t seed) {
    detail::state = seed;
}

uint32_t state() {
    return detail::state;
}

} // namespace Random
