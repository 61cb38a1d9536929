// The recorder of the whole-show sync measurement: records a sink's monitor until it is told
// to stop (SIGTERM or SIGINT), then writes where each click was heard, one line per click:
// the recording frame of its onset and the monotonic time at which the sink played it.
//
// usage: sound_monitor_record SOURCE OUTPUT

#include <csignal>
#include <cstdio>
#include <vector>

#include "sound/MonitorRecorder.h"

namespace {

volatile std::sig_atomic_t stopping = 0;

void onStop(int /*signal*/) {
    stopping = 1;
}

} // namespace

int main(int argc, char** argv) {
    using namespace sound_test;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE OUTPUT\n", argv[0]);
        return 2;
    }
    std::signal(SIGTERM, onStop);
    std::signal(SIGINT, onStop);
    MonitorRecorder recorder;
    if (!recorder.open(argv[1])) {
        std::fprintf(stderr, "cannot record %s\n", argv[1]);
        return 1;
    }
    std::printf("recording\n");
    std::fflush(stdout);
    while (stopping == 0) {
        recorder.noteTime();
        sleepMs(5);
    }
    recorder.noteTime();
    const std::vector<float> all = recorder.samples();
    recorder.close();
    std::vector<float> left(all.size() / 2);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = all[2 * i];
    }
    FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::fprintf(out, "# onset_frame heard_monotonic_seconds\n");
    for (double onset : onsets(left, 0.3 * kRecordRate)) {
        std::fprintf(out, "%.0f %.7f\n", onset, recorder.wallAt(onset));
    }
    std::fclose(out);
    return 0;
}
