#include "ProgressMeter.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr double kTerminalInterval = 0.1;
constexpr double kLogInterval = 5.0;
constexpr size_t kBarWidth = 24;
} // namespace

ProgressMeter::ProgressMeter(uint64_t total, bool terminal)
    : total_(total), terminal_(terminal), start_(Clock::now()), lastPrint_(start_) {}

double ProgressMeter::elapsedSeconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

std::string ProgressMeter::format(uint64_t done, uint64_t total, double fps) {
    const double fraction =
        total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
    const size_t filled = std::min<size_t>(kBarWidth, static_cast<size_t>(fraction * kBarWidth));
    const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '-');

    char left[32] = "--:--";
    if (fps > 0.0 && done <= total) {
        const uint64_t seconds =
            static_cast<uint64_t>(static_cast<double>(total - done) / fps + 0.5);
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
    const double sincePrint = std::chrono::duration<double>(now - lastPrint_).count();
    if (sincePrint < (terminal_ ? kTerminalInterval : kLogInterval)) {
        return;
    }
    lastPrint_ = now;
    const double elapsed = elapsedSeconds();
    const double fps = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    const std::string line = format(done, total_, fps);
    if (terminal_) {
        // Padding wipes what a longer earlier line left behind.
        std::fprintf(stderr, "\r%-78s", line.c_str());
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
    printed_ = true;
}

double ProgressMeter::finish(uint64_t done) {
    const double elapsed = elapsedSeconds();
    const double fps = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    if (terminal_ && printed_) {
        std::fprintf(stderr, "\r%-78s\r", "");
    }
    std::fprintf(stderr, "%llu frames in %.1f s (%.2f fps)\n",
                 static_cast<unsigned long long>(done), elapsed, fps);
    std::fflush(stderr);
    return fps;
}
