#include "ProgressMeter.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr double kTerminalInterval = 0.1;
constexpr double kLogInterval = 5.0;
constexpr size_t kBarWidth = 24;
} // namespace

ProgressMeter::ProgressMeter(const std::vector<double>& frameCosts, bool onTerminal)
    : terminal(onTerminal), start(Clock::now()), lastPrint(start) {
    costBefore.reserve(frameCosts.size() + 1);
    double sum = 0.0;
    costBefore.push_back(sum);
    for (double cost : frameCosts) {
        sum += cost;
        costBefore.push_back(sum);
    }
}

double ProgressMeter::elapsedSeconds() const {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ProgressMeter::secondsLeft(uint64_t done, double elapsed) const {
    const uint64_t total = costBefore.size() - 1;
    if (done == 0 || done > total || elapsed <= 0.0 || costBefore[done] <= 0.0) {
        return -1.0;
    }
    const double secondsPerCost = elapsed / costBefore[done];
    return (costBefore[total] - costBefore[done]) * secondsPerCost;
}

std::string ProgressMeter::format(uint64_t done, uint64_t total, double fps, double secondsLeft) {
    const double fraction =
        total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
    const size_t filled = std::min<size_t>(kBarWidth, static_cast<size_t>(fraction * kBarWidth));
    const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '-');

    char left[32] = "--:--";
    if (secondsLeft >= 0.0) {
        const uint64_t seconds = static_cast<uint64_t>(secondsLeft + 0.5);
        if (seconds >= 3600) {
            std::snprintf(left, sizeof left, "%llu:%02llu:%02llu",
                          static_cast<unsigned long long>(seconds / 3600),
                          static_cast<unsigned long long>(seconds / 60 % 60),
                          static_cast<unsigned long long>(seconds % 60));
        } else {
            std::snprintf(left, sizeof left, "%llu:%02llu",
                          static_cast<unsigned long long>(seconds / 60),
                          static_cast<unsigned long long>(seconds % 60));
        }
    }
    char line[160];
    std::snprintf(line, sizeof line, "frame %llu/%llu [%s] %3d%%  %.1f fps  %s left",
                  static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                  bar.c_str(), static_cast<int>(fraction * 100.0), fps, left);
    return line;
}

void ProgressMeter::update(uint64_t done) {
    const Clock::time_point now = Clock::now();
    const double sincePrint = std::chrono::duration<double>(now - lastPrint).count();
    if (sincePrint < (terminal ? kTerminalInterval : kLogInterval)) {
        return;
    }
    lastPrint = now;
    const double elapsed = elapsedSeconds();
    const double fps = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    const std::string line = format(done, costBefore.size() - 1, fps, secondsLeft(done, elapsed));
    if (terminal) {
        // Padding wipes what a longer earlier line left behind.
        std::fprintf(stderr, "\r%-78s", line.c_str());
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
    printed = true;
}

double ProgressMeter::finish(uint64_t done) {
    const double elapsed = elapsedSeconds();
    const double fps = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    if (terminal && printed) {
        std::fprintf(stderr, "\r%-78s\r", "");
    }
    std::fprintf(stderr, "%llu frames in %.1f s (%.2f fps)\n",
                 static_cast<unsigned long long>(done), elapsed, fps);
    std::fflush(stderr);
    return fps;
}
