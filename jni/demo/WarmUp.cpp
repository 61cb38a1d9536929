#include "demo/WarmUp.h"

#include "demo/Demo.h"
#include "parts/Part.h"
#include "sync/SyncTracks.h"

std::vector<uint32_t> warmUpTimes(uint32_t t, int fps, uint32_t sceneStartMs,
                                  const std::function<bool(uint32_t)>& sameScene,
                                  const std::function<int32_t(uint32_t)>& patternAt) {
    std::vector<uint32_t> times;
    const uint64_t rate = static_cast<uint64_t>(fps);
    // First frame of the grid from time 0 at or after the scene's start.
    uint64_t frame = (static_cast<uint64_t>(sceneStartMs) * rate + 999) / 1000;
    bool haveRun = false;
    int32_t runPattern = 0;
    uint32_t runLast = 0;
    for (;; ++frame) {
        const uint64_t time = frame * 1000 / rate;
        if (time >= t) {
            break;
        }
        const uint32_t at = static_cast<uint32_t>(time);
        if (!sameScene(at)) {
            continue;
        }
        const int32_t pattern = patternAt(at);
        if (haveRun && pattern != runPattern) {
            times.push_back(runLast);
        }
        haveRun = true;
        runPattern = pattern;
        runLast = at;
    }
    if (haveRun) {
        times.push_back(runLast);
    }
    return times;
}

void warmUp(Demo& demo, uint32_t t, int fps) {
    // A channel with no note yet keeps its last value; a run from the start has 0 there.
    demo.sync.channelNotes.fill(0);
    const Part* scene = demo.timeline.sceneAt(t);
    if (scene == nullptr || fps <= 0) {
        return;
    }
    const auto sameScene = [&demo, scene](uint32_t time) {
        return demo.timeline.sceneAt(time) == scene;
    };
    for (uint32_t time : warmUpTimes(t, fps, scene->startMs, sameScene, SyncTracks::patternAt)) {
        demo.drawFrame(time);
    }
}
