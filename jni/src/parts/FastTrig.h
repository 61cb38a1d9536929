#pragma once
// Sine and cosine in single precision, written without branches or calls so that a loop over
// arrays of angles vectorises. Against std::sin and std::cos on floats the absolute error is
// at most kFastTrigMaxError for |x| <= kFastTrigLimit (the scenes' angles stay far below it);
// callers fall back to portableSin (math/PortableMath.h) beyond the limit, and where a
// decision could flip.

#include <cstdint>

// A function marked with this is compiled three times on x86-64, for the baseline, AVX2 and
// AVX-512, and the loader picks the widest the processor can run. All give the same numbers:
// the operations are the same IEEE ones, only more of them at once (and nothing is fused into
// multiply-adds).
// A build can pin the baseline by defining LUMENFALL_WIDE_VECTORS as empty.
#if !defined(LUMENFALL_WIDE_VECTORS) && defined(__x86_64__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define LUMENFALL_WIDE_VECTORS __attribute__((target_clones("avx512f", "avx2", "default")))
#endif
#endif
#ifndef LUMENFALL_WIDE_VECTORS
#define LUMENFALL_WIDE_VECTORS
#endif

// Beyond this |x| the three-part reduction below loses its exactness.
constexpr float kFastTrigLimit = 8192.0f;
// Measured at 1.19e-7 (one unit in the last place near 1) over every 7th float up to the
// limit; the bound is twice that, and the tests hold the functions to it.
constexpr float kFastTrigMaxError = 2.4e-7f;

// x = q * pi/2 + r with |r| <= pi/4, then minimax polynomials for sin and cos on r. x must
// not be NaN; beyond the limit it is clamped, which keeps the results finite but wrong.
inline void fastSinCos(float x, float& sinOut, float& cosOut) {
    // pi/2 in three parts; the first two have few enough bits that q * part is exact.
    constexpr float kPiOver2A = 1.5703125f;
    constexpr float kPiOver2B = 4.837512969970703125e-4f;
    constexpr float kPiOver2C = 7.54978995489188216e-8f;
    constexpr float kTwoOverPi = 0.636619772367581343f;

    x = x > kFastTrigLimit ? kFastTrigLimit : (x < -kFastTrigLimit ? -kFastTrigLimit : x);
    const int32_t q = static_cast<int32_t>(x * kTwoOverPi + (x >= 0.0f ? 0.5f : -0.5f));
    const float qf = static_cast<float>(q);
    const float r = ((x - qf * kPiOver2A) - qf * kPiOver2B) - qf * kPiOver2C;
    const float z = r * r;

    const float sinR =
        r + r * z * (-1.6666654611e-1f + z * (8.3321608736e-3f + z * -1.9515295891e-4f));
    const float cosR =
        1.0f - 0.5f * z +
        z * z * (4.166664568298827e-2f + z * (-1.388731625493765e-3f + z * 2.443315711809948e-5f));

    // Quadrant q: sin(x) is sinR, cosR, -sinR, -cosR for q mod 4 = 0..3; cos(x) one step on.
    const bool odd = (q & 1) != 0;
    const float s = odd ? cosR : sinR;
    const float c = odd ? sinR : cosR;
    sinOut = (q & 2) != 0 ? -s : s;
    cosOut = ((q + 1) & 2) != 0 ? -c : c;
}
