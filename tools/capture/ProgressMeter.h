#pragma once
// The capture's progress on stderr: frames done, speed and time left. On a terminal one line
// rewritten in place at most ten times a second; otherwise (a log, CI) a plain line every
// few seconds.

#include <chrono>
#include <cstdint>
#include <string>

class ProgressMeter {
public:
    ProgressMeter(uint64_t total, bool terminal);

    // Call after each frame; prints only when the last print is old enough.
    void update(uint64_t done);
    // The closing line with the totals; returns the average speed in frames per second.
    double finish(uint64_t done);

    // "frame 120/6480 [##------] 1%  12.3 fps  7:13 left"
    static std::string format(uint64_t done, uint64_t total, double fps);

private:
    using Clock = std::chrono::steady_clock;
    double elapsedSeconds() const;

    uint64_t total_;
    bool terminal_;
    Clock::time_point start_;
    Clock::time_point lastPrint_;
    bool printed_ = false;
};
