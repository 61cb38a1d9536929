#pragma once
// The two halves of the music clock, free of any device so they can be tested on their own:
// AudioTimeline remembers which stream frames went into which output frames, ReportLine draws
// the line through a sound server's timing reports, SmoothClock turns an output's reports of
// what it is playing into a position that never goes backwards and never leaps, and
// PresentationLead says how far ahead of that position a frame is drawn so that it shows the
// music heard when it is seen.

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

// Where a sound server's output is, from its timing reports: each says which frame played at
// which moment (monotonic seconds). A report may be a little old when it is answered (PipeWire
// gives its figures as of its last cycle, up to a cycle before the answer's time stamp) but never
// ahead, so the truth is the line at the rate through the freshest reports: the highest of the
// last second's, bar one, which keeps a single stray report from pulling the clock ahead.
class ReportLine {
public:
    static constexpr double kWindowSeconds = 1.0;
    // A report this far off the line means the output stalled or skipped: start a new line.
    static constexpr double kStallSeconds = 0.05;

    void reset() { count = 0; }
    // Reports come in time order; `frames` played at `seconds`, at `rate` frames a second.
    void add(double seconds, double frames, double rate);
    bool empty() const { return count == 0; }
    // The frames played at `seconds`, from the line.
    double at(double seconds) const;

private:
    struct Report {
        double seconds;
        double offset; // frames - rate * seconds
    };
    double envelope() const;

    static constexpr size_t kReports = 128;
    std::array<Report, kReports> reports{};
    size_t first = 0;
    size_t count = 0;
    double lineRate = 0.0;
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

// A frame is seen some time after the clock is read for it: its drawing, and the display taking
// it. It is drawn for the music heard then: the clock plus the recent frames' time from clock
// read to presentation, followed slowly so that one slow frame hardly moves the picture.
class PresentationLead {
public:
    // The share of each frame's difference the lead follows.
    static constexpr double kFollow = 0.05;
    // A frame that took longer than this (a stall, a window being moved) counts as this long.
    static constexpr double kLongestSeconds = 0.1;

    void reset();
    // One frame: the clock was read at `readSeconds` and the frame was shown at `shownSeconds`
    // (monotonic seconds).
    void presented(double readSeconds, double shownSeconds);
    // The music time to draw for the clock's `clockMs`: never before the time drawn last, never
    // past `endMs` unless the clock itself is.
    uint32_t drawTime(uint32_t clockMs, uint32_t endMs);
    double leadSeconds() const { return lead; }

private:
    double lead = 0.0;
    uint32_t lastDrawn = 0;
};
