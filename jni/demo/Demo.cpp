// The Demo owns every scene and shared resource. The random sets are built on the CPU while
// the loading bar runs; drawFrame allocates nothing.

#include "Demo.h"

#include <algorithm>

#include "camera/Camera.h"
#include "math/PortableMath.h"
#include "parts/Part01.h"
#include "parts/Part02.h"
#include "parts/Part03.h"
#include "parts/Part04.h"
#include "parts/Part05.h"
#include "platform/gl.h"
#include "progress/Progress.h"
#include "random/Random.h"

namespace {

constexpr uint32_t kCloudSeed = 13886772;
constexpr uint32_t kDirectionSeed = 771;
constexpr uint32_t kCloudStepEvery = 100000;
constexpr uint32_t kDirectionStepEvery = 20000;

} // namespace

Letterbox computeLetterbox(int32_t width, int32_t height) {
    // 64-bit intermediates: (H / 9) * 16 may exceed int32 for absurd heights.
    const int64_t w = width;
    const int64_t h = height;
    Letterbox box;
    box.width = static_cast<int32_t>(std::min(w, (h / 9) * 16));
    box.height = static_cast<int32_t>(std::min(h, (w / 16) * 9));
    box.x = static_cast<int32_t>((w - box.width) / 2);
    box.y = static_cast<int32_t>((h - box.height) / 2);
    return box;
}

void Demo::setScreenSize(int32_t width, int32_t height) {
    windowWidth = width;
    windowHeight = height;
    aspectWidth = 16;
    aspectHeight = 9;
    const Letterbox box = computeLetterbox(width, height);
    viewportX = box.x;
    viewportY = box.y;
    viewportWidth = box.width;
    viewportHeight = box.height;
    screenWidth = viewportWidth - viewportX;
    screenHeight = viewportHeight - viewportY;
    glViewport(viewportX, viewportY, viewportWidth, viewportHeight);
}

void Demo::buildRandomCloud(std::vector<glm::vec3>& out, bool takeSteps) {
    // r / 1000.0 - 1.0 rounded to float, for every r a draw mod 2000 can give.
    float coordinate[2000];
    for (int r = 0; r < 2000; ++r)
        coordinate[r] = static_cast<float>(r / 1000.0 - 1.0);
    out.resize(kRandomSetSize);
    glm::vec3* points = out.data();
    Random::srand(kCloudSeed);
    for (uint32_t i = 0; i < kRandomSetSize; ++i) {
        // Draw order matters: x comes from the third draw, z from the first.
        const int r1 = Random::rand() % 2000;
        const int r2 = Random::rand() % 2000;
        const int r3 = Random::rand() % 2000;
        points[i] = glm::vec3(coordinate[r3], coordinate[r2], coordinate[r1]);
        if (takeSteps && i % kCloudStepEvery == 0)
            progressStep();
    }
}

void Demo::buildRandomDirections(std::vector<glm::vec3>& out, bool takeSteps) {
    // The angles are whole degrees: their sines and cosines, as rotateVector takes them.
    float sine[360], cosine[360];
    for (int degrees = 0; degrees < 360; ++degrees) {
        const float radians = static_cast<float>(degrees) * kDegToRad;
        portableSinCos(radians, sine[degrees], cosine[degrees]);
    }
    out.resize(kRandomSetSize);
    glm::vec3* directions = out.data();
    Random::srand(kDirectionSeed);
    const glm::vec3 axis(1.0f, 0.0f, 0.0f);
    for (uint32_t i = 0; i < kRandomSetSize; ++i) {
        const int r1 = Random::rand() % 360;
        const int r2 = Random::rand() % 360;
        // First angle r2 about X, second r1 about Y.
        directions[i] = rotateVector(axis, sine[r2], cosine[r2], sine[r1], cosine[r1]);
        if (takeSteps && i % kDirectionStepEvery == 0)
            progressStep();
    }
}

bool Demo::build(int32_t musicLengthMs) {
    // Sync state: the five level tracks, then the note events.
    for (const char* track : {"01.rms", "02.rms", "03.rms", "04.rms", "05.rms"}) {
        sync.trackFiles.emplace_back(track);
    }
    if (!sync.load("music.msd"))
        return false;

    if (!overlay.load("overlay.ife"))
        return false;
    if (!staticOverlay.load("racs.ife"))
        return false;

    buildRandomCloud(randomPoints, true);
    buildRandomDirections(randomDirections, true);

    sharedParticles.particles.assign(kSharedParticles, Particle{});
    sharedParticles.particles.reserve(kSharedParticles);
    if (!sharedParticles.load("particle.glsl", "envflare3.tga", static_cast<float>(screenWidth))) {
        return false;
    }

    glEnable(GL_SCISSOR_TEST);

    // A negative length would turn into a window reaching to the end of unsigned time.
    const uint32_t musicEnd = musicLengthMs > 0 ? static_cast<uint32_t>(musicLengthMs) : 0;
    timeline.firstMs = 0;
    timeline.add(kPart01EndMs, new Part01(this));
    timeline.add(kPart02EndMs, new Part02(this));
    timeline.add(kPart03EndMs, new Part03(this));
    timeline.add(kPart04EndMs, new Part04(this));
    timeline.add(musicEnd, new Part05(this));
    if (!timeline.initAll())
        return false;

    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glEnable(GL_BLEND);
    return true;
}

void Demo::drawFrame(uint32_t t) {
    // Black bars: clear the whole window, then clip everything else to the letterbox.
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glViewport(0, 0, windowWidth, windowHeight);
    glScissor(0, 0, windowWidth, windowHeight);
    glClear(GL_COLOR_BUFFER_BIT);
    glViewport(viewportX, viewportY, viewportWidth, viewportHeight);
    glScissor(viewportX, viewportY, viewportWidth, viewportHeight);

    sync.update(t);
    timeline.drawAt(t);

    if (!overlaysAt(t))
        return;
    overlay.time = static_cast<float>(static_cast<double>(t) / 220.0);
    overlay.draw();
    staticOverlay.time = 0.0f;
    staticOverlay.draw();
}
