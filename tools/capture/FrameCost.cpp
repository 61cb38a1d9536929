#include "FrameCost.h"

#include "CaptureOptions.h"

namespace {

struct CostSpan {
    uint32_t endMs; // exclusive
    double portable;
    double native;
};

// CPU milliseconds per frame, drawn and encoded, over every span of whole-show recordings at
// the default settings alone on a 2-core machine, once with --portable and once with this processor's code
// (bench/README.md); spans end at the scenes' boundaries.
// clang-format off
constexpr CostSpan kSpans[] = {
    // first scene
    {5000, 82, 50}, {15000, 96, 72}, {25000, 129, 101}, {35000, 77, 61}, {45000, 117, 96},
    {55000, 136, 105}, {65000, 119, 102}, {75000, 143, 115}, {85000, 144, 103},
    {95000, 141, 105}, {106905, 125, 97},
    // second
    {115000, 102, 93}, {125000, 111, 104}, {135000, 100, 88}, {141813, 104, 85},
    // third
    {155000, 119, 110}, {165000, 113, 107}, {176721, 136, 120},
    // fourth: the tentacles
    {185000, 460, 325}, {194175, 466, 360},
    // fifth
    {205000, 89, 92}, {211630, 80, 95}, {UINT32_MAX, 121, 106},
};
// clang-format on

} // namespace

double frameCost(uint32_t t, bool native) {
    for (const CostSpan& span : kSpans) {
        if (t < span.endMs) {
            return native ? span.native : span.portable;
        }
    }
    return native ? kSpans[0].native : kSpans[0].portable;
}

std::vector<double> frameCosts(uint32_t startMs, uint64_t frames, int fps, bool native) {
    std::vector<double> costs;
    costs.reserve(frames);
    for (uint64_t frame = 0; frame < frames; ++frame) {
        costs.push_back(frameCost(frameTimeMs(startMs, frame, fps), native));
    }
    return costs;
}
