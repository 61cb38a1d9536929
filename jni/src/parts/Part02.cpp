// Scene 2: every frame all 40000 particles are moved, swirled and tested against the floor
// mask on the CPU; the kept ones are packed at the front of the vector the draw reads.

#include "parts/Part02.h"

#include <cmath>

#include "demo/Demo.h"
#include "loader/Loader.h"
#include "progress/Progress.h"
#include "report/Errors.h"

namespace {

constexpr uint32_t kMaskBytesNeeded = kMaskHeaderBytes + kMaskSide * kMaskSide;
constexpr const char* kMaskName = "ventillator.tga";

struct Shot {
    float side, up, view, rotationX, rotationY, rotationZ;
};
// Patterns 13..16.
constexpr Shot kShots[4] = {
    {-0.50000054f, 1.5999999f, 7.9199944f, 92.0f, -173.0f, -1884.0555f},
    {-0.50000054f, 1.5999999f, -1.0800056f, -8.0f, -208.0f, -1884.0555f},
    {-0.67000037f, 1.5999999f, 7.7699909f, 53.0f, -161.0f, -1884.0555f},
    {-0.67000037f, 1.5999999f, -7.2300091f, -52.0f, -394.0f, -1884.0555f},
};
constexpr int32_t kFirstShotPattern = 13;

// trunc((v + 1) * 128), or 255 when that is not in 0..255.
inline uint32_t gridCell(float v) {
    const float cell = (v + 1.0f) * 128.0f;
    return cell > -1.0f && cell < 256.0f ? static_cast<uint32_t>(static_cast<int32_t>(cell)) : 255u;
}

} // namespace

Part02::~Part02() {
    delete[] maskFileBytes;
}

bool Part02::init() {
    if (!fillParticles())
        return false;
    if (!particleSet.load("particlePart02.glsl", "envflare3.tga",
                          static_cast<float>(demo->screenWidth))) {
        return false;
    }
    lookupUniforms(particleSet, {"uTime", "uPsize"}, {&timeLocation, &psizeLocation});

    particleGroups.reset(new int32_t[particleCount]);
    for (uint32_t j = 0; j < particleCount; ++j)
        particleGroups[j] = static_cast<int32_t>(j & 15);

    progressStep();
    if (!loadMask())
        return false;

    sceneLens(camera);
    openingShot(camera);
    return true;
}

bool Part02::fillParticles() {
    // Colours read points 404.. and 808..; the motion reads points and directions 0..39999.
    if (!hasSharedSets(808 + particleCount, particleCount))
        return false;
    const std::vector<glm::vec3>& points = demo->randomPoints;
    particleSet.particles.assign(particleCount, Particle{});
    for (uint32_t i = 0; i < particleCount; ++i) {
        particleSet.particles[i].r = points[404 + i].x;
        particleSet.particles[i].g = points[808 + i].y;
    }
    return true;
}

bool Part02::loadMask() {
    maskFileName = kMaskName;
    delete[] maskFileBytes;
    maskFileBytes = nullptr;
    maskFileSize = 0;
    densityMask.reset();
    if (!Loader::Get(maskFileName, maskFileSize, maskFileBytes)) {
        maskFileBytes = nullptr;
        maskFileSize = 0;
        reportError("Load error : " + maskFileName);
        return false;
    }
    // The lookup reads up to byte 18 + 65535: a shorter file cannot be a 256 x 256 mask.
    if (!maskFileBytes || maskFileSize < kMaskBytesNeeded) {
        reportError("Mask size error : " + maskFileName);
        return false;
    }
    // The whole file is converted, header included; the lookup skips the header.
    densityMask.reset(new float[maskFileSize]);
    for (uint32_t j = 0; j < maskFileSize; ++j) {
        densityMask[j] = static_cast<float>(255 - maskFileBytes[j]) / 255.0f;
    }
    return true;
}

void Part02::chooseShot(int32_t pattern) {
    if (pattern < kFirstShotPattern || pattern >= kFirstShotPattern + 4)
        return;
    const Shot& shot = kShots[pattern - kFirstShotPattern];
    camera.sideOffset = shot.side;
    camera.upOffset = shot.up;
    camera.viewOffset = shot.view;
    camera.rotationX = shot.rotationX;
    camera.rotationY = shot.rotationY;
    camera.rotationZ = shot.rotationZ;
}

float Part02::wrap(float c) {
    return c - std::trunc(c);
}

uint32_t Part02::maskIndex(float rx, float rz) {
    return kMaskHeaderBytes + gridCell(rz) * kMaskSide + gridCell(rx);
}

uint32_t Part02::updateParticles(uint32_t t) {
    if (!densityMask || !particleGroups)
        return 0;
    const float time = static_cast<float>(t);
    const SyncTracks& sync = demo->sync;
    const float drift = time / 4000.0f;
    const double swirlBase = time / 6.0;
    const float level = sync.trackLevels[2];
    const int32_t highlighted = sync.channelNotes[2];

    const glm::vec3* points = demo->randomPoints.data();
    const glm::vec3* directions = demo->randomDirections.data();
    Particle* particles = particleSet.particles.data();
    const float* mask = densityMask.get();
    uint32_t n = 0;
    for (uint32_t i = 0; i < particleCount; ++i) {
        const glm::vec3 moved = points[i] + drift * directions[i];
        const float fx = wrap(moved.x);
        const float fy = wrap(moved.y);
        const float fz = wrap(moved.z);
        const double angle = (swirlBase + level * 45.0f) - fy * 90.0f * 0.629 * level;
        const glm::vec3 r = rotateVector(glm::vec3(fx, 0.0f, fz), 0.0f, static_cast<float>(angle));
        const float m = mask[maskIndex(r.x, r.z)];
        if (m > 0.0f) {
            Particle& slot = particles[n];
            slot.x = fx;
            slot.y = fy;
            slot.z = fz;
            slot.b = m;
            slot.a = particleGroups[i] == highlighted ? 2.0f : 1.0f;
            ++n;
        }
    }
    return n;
}

void Part02::draw(uint32_t t) {
    const float time = static_cast<float>(t);
    const SyncTracks& sync = demo->sync;
    chooseShot(sync.pattern);
    camera.update();
    additiveState();

    const float pointSize = (sync.trackLevels[2] * 2.0f + 1.0f) * 0.1332f;
    const uint32_t kept = updateParticles(t);
    // A count of 0 would draw every particle, stale ones included: with none kept, draw none.
    if (kept == 0)
        return;
    particlePass(particleSet, camera, {{timeLocation, time}, {psizeLocation, pointSize}}, kept);
}
