#pragma once
// The two halves of the music clock, free of any device so they can be tested on their own:
// AudioTimeline remembers which stream frames went into which output frames, and SmoothClock
// turns an output's reports of what it is playing into a position that never goes backwards
// and never leaps.

#include <array>
#include <cstddef>
#include <cstdint>

class AudioTimeline {
public:
    // Nothing handed yet; output frame 0 will carry stream position `streamStart`.
    void reset(double streamStart = 0.0);
    // Output frames [outputStart, outputStart + count) carry the stream from `streamFrom` to
    // `streamTo` (equal for silence). Calls come in output order.
    void append(uint64_t outputStart, uint64_t count, double streamFrom, double streamTo);
    // The stream position heard when the output has played `outputFrames`. Past what was
    // handed, the last position handed; before the oldest remembered, the oldest.
    double streamAt(double outputFrames) const;

private:
    struct Segment {
        uint64_t outputStart;
        uint64_t count;
        double streamFrom;
        double streamTo;
    };
    // Outputs hold well under a second of sound; a few dozen segments cover it.
    static constexpr size_t kSegments = 256;
    std::array<Segment, kSegments> segments{};
    size_t first = 0; // oldest segment
    size_t used = 0;
    double initial = 0.0;
};

class SmoothClock {
public:
    // How much faster than real time the clock may run to catch up with the output.
    static constexpr double kCatchUp = 1.5;
    // Further than this from the output, the clock jumps to it (a new output, a long stall).
    static constexpr double kSnapSeconds = 0.25;

    void reset(double frames = 0.0);
    // `reported`: what the output says it plays at `nowSeconds` (a monotonic clock), in frames
    // at `rate`. Returns the smoothed position in the same frames.
    double update(double reported, double nowSeconds, double rate);
    double position() const { return last; }

private:
    double last = 0.0;
    double lastSeconds = 0.0;
    bool started = false;
};
