#pragma once
// The hub of the show: letterbox, sync state, the two overlays, the shared particle set and
// the shared random point sets, and the five scenes on the timeline. build() loads all of it
// during the loading screen; drawFrame() renders the frame for one music time.

#include <cstdint>
#include <vector>

#include <glm/glm.hpp>

#include "Timeline.h"
#include "ife/Ife.h"
#include "particles/ParticleSet.h"
#include "sync/SyncTracks.h"

constexpr uint32_t kRandomSetSize = 500000;
constexpr uint32_t kSharedParticles = 65536;
constexpr uint32_t kOverlayEndMs = 216000;

struct Letterbox {
    int32_t x, y, width, height;
};
// The largest 16:9 rectangle centred in a window (integer arithmetic).
Letterbox computeLetterbox(int32_t width, int32_t height);

class Demo {
public:
    Demo() = default;
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    void setScreenSize(int32_t width, int32_t height);
    bool build(int32_t musicLengthMs);
    void drawFrame(uint32_t t);
    // Whether the two overlays are drawn over the frame at music time t.
    static bool overlaysAt(uint32_t t) { return t < kOverlayEndMs; }

    // The two shared random sets; also used on their own by tests and benchmarks.
    static void buildRandomCloud(std::vector<glm::vec3>& out, bool takeSteps);
    static void buildRandomDirections(std::vector<glm::vec3>& out, bool takeSteps);

    int32_t aspectWidth = 0;
    int32_t aspectHeight = 0;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int32_t viewportX = 0;
    int32_t viewportY = 0;
    int32_t viewportWidth = 0;
    int32_t viewportHeight = 0;
    int32_t windowWidth = 0;
    int32_t windowHeight = 0;
    Timeline timeline;
    SyncTracks sync;
    Ife overlay;
    Ife staticOverlay;
    ParticleSet sharedParticles;
    std::vector<glm::vec3> randomPoints;
    std::vector<glm::vec3> randomDirections;
};
