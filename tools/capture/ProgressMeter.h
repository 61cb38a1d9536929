#pragma once
// The capture's progress on stderr: frames done, speed and time left. On a terminal one line
// rewritten in place at most ten times a second; otherwise (a log, CI) a plain line every
// few seconds. The time left weighs the frames still ahead by their expected cost, scaled by
// how long the frames done so far took against their expected cost.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class ProgressMeter {
public:
    // One expected cost per frame, in the order the frames are done.
    ProgressMeter(const std::vector<double>& frameCosts, bool terminal);

    // Call after each frame; prints only when the last print is old enough.
    void update(uint64_t done);
    // The closing line with the totals; returns the average speed in frames per second.
    double finish(uint64_t done);

    // Seconds still to go once the first done frames took elapsed seconds; negative when
    // nothing is known yet.
    double secondsLeft(uint64_t done, double elapsed) const;

    // "frame 120/6480 [##------] 1%  12.3 fps  7:13 left" (secondsLeft < 0: "--:--")
    static std::string format(uint64_t done, uint64_t total, double fps, double secondsLeft);

private:
    using Clock = std::chrono::steady_clock;
    double elapsedSeconds() const;

    std::vector<double> costBefore; // costBefore[k]: expected cost of frames 0 .. k-1
    bool terminal;
    Clock::time_point start;
    Clock::time_point lastPrint;
    bool printed = false;
};
