#include "FrameCost.h"

#include "CaptureOptions.h"

namespace {

struct CostSpan {
    uint32_t endMs; // exclusive
    double cost;
};

// CPU milliseconds per frame, drawn and encoded, from half-second excerpts every ten seconds
// of music (bench/README.md); spans end at the scenes' boundaries.
// clang-format off
constexpr CostSpan kSpans[] = {
    // first scene
    {5000, 73}, {15000, 64}, {25000, 66}, {35000, 104}, {45000, 151}, {55000, 163},
    {65000, 96}, {75000, 119}, {85000, 134}, {95000, 138}, {106905, 122},
    // second
    {115000, 104}, {125000, 115}, {135000, 92}, {141813, 101},
    // third
    {155000, 119}, {165000, 186}, {176721, 117},
    // fourth: the tentacles
    {185000, 430}, {194175, 377},
    // fifth
    {205000, 97}, {211630, 121}, {UINT32_MAX, 104},
};
// clang-format on

} // namespace

double frameCost(uint32_t t) {
    for (const CostSpan& span : kSpans) {
        if (t < span.endMs) {
            return span.cost;
        }
    }
    return kSpans[0].cost;
}

std::vector<double> frameCosts(uint32_t startMs, uint64_t frames, int fps) {
    std::vector<double> costs;
    costs.reserve(frames);
    for (uint64_t frame = 0; frame < frames; ++frame) {
        costs.push_back(frameCost(frameTimeMs(startMs, frame, fps)));
    }
    return costs;
}
