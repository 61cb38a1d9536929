#include "FrameCost.h"

#include "CaptureOptions.h"

namespace {

struct CostSpan {
    uint32_t endMs; // exclusive
    double cost;
};

// From excerpts of each scene, CPU time per frame relative to the first span's.
constexpr CostSpan kSpans[] = {
    {61089, 1.0},      // the opening, before the credits
    {106905, 1.0},     // the credits
    {141813, 1.0},     // second scene
    {176721, 1.0},     // third scene
    {194175, 1.0},     // fourth scene: the tentacles
    {211630, 1.0},     // fifth scene
    {UINT32_MAX, 1.0}, // the last growth
};

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
