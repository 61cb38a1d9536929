// Scene 1: the cloud's colours are recomputed on the CPU each frame for the particles drawn,
// straight into the vector the draw reads.

#include "parts/Part01.h"

#include <algorithm>
#include <cmath>

#include "demo/Demo.h"
#include "math/PortableMath.h"
#include "parts/FastTrig.h"

namespace {

constexpr uint32_t kCloudParticles = 20000;
// Colour pulses read points 404.. and 808..; the largest draw count stays below the cloud size.
constexpr uint32_t kPulseIndexOffset = 808;
// 61089 ms is the start of pattern 7; the credits clock runs 200 units per 8727-ms pattern.
constexpr float kCreditsStartMs = 61089.0f;
constexpr float kCreditsMsPerUnit = 43.635f;
// Colours are computed a block at a time: arguments, then sines, then the writes.
constexpr uint32_t kBlock = 256;

} // namespace

bool Part01::init() {
    if (!credits.load("credits.ife"))
        return false;
    if (!fillParticles())
        return false;
    if (!particleSet.load("particlePart01.glsl", "envflare3.tga",
                          static_cast<float>(demo->screenWidth))) {
        return false;
    }
    lookupUniforms(particleSet, {"uTime", "uTracks2", "uPsize"},
                   {&timeLocation, &tracks2Location, &psizeLocation});

    sceneLens(camera);
    openingShot(camera);
    camera.update();
    return true;
}

bool Part01::fillParticles() {
    if (!hasSharedSets(kPulseIndexOffset + particleCount, 0))
        return false;
    const std::vector<glm::vec3>& points = demo->randomPoints;
    particleSet.particles.assign(particleCount, Particle{});
    for (uint32_t k = 0; k < particleCount; ++k) {
        const glm::vec3& p = points[k];
        particleSet.particles[k] = Particle{p.x, p.y, p.z, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    }
    pulseRate.resize(particleCount);
    pulseOffset.resize(particleCount);
    for (uint32_t i = 0; i < particleCount; ++i) {
        pulseRate[i] = points[404 + i].x;
        pulseOffset[i] = points[kPulseIndexOffset + i].y;
    }
    return true;
}

uint32_t Part01::countAt(uint32_t t, int32_t pattern) {
    int64_t count = t / 3;
    if (t > 33000)
        count = 11000;
    // Falls from 11000 at 104724 ms to 95 at the end of the window, 106905 ms.
    if (pattern > 11)
        count = 534620 - 5 * static_cast<int64_t>(t);
    // Past the window the formula goes negative; never ask for more than the cloud holds.
    return static_cast<uint32_t>(std::clamp<int64_t>(count, 0, kCloudParticles));
}

LUMENFALL_WIDE_VECTORS
void Part01::updateColors(uint32_t t, uint32_t count) {
    const float time = static_cast<float>(t);
    const SyncTracks& sync = demo->sync;
    const bool followTrack1 = sync.pattern < 4;
    const float track1Gain = 4.0f * sync.trackLevels[1];

    count = std::min<uint32_t>(count, static_cast<uint32_t>(particleSet.particles.size()));
    count = std::min<uint32_t>(count, static_cast<uint32_t>(pulseRate.size()));
    const float* rate = pulseRate.data();
    const float* offset = pulseOffset.data();
    Particle* particles = particleSet.particles.data();
    float argument[kBlock];
    float pulse[kBlock];
    for (uint32_t first = 0; first < count; first += kBlock) {
        const uint32_t n = std::min(kBlock, count - first);
        // x * T in single precision, the rest in double, the argument rounded to float.
        for (uint32_t j = 0; j < n; ++j) {
            argument[j] = static_cast<float>(rate[first + j] * time * 0.0122 + offset[first + j]);
        }
        int32_t outOfRange = 0;
        for (uint32_t j = 0; j < n; ++j) {
            float s, c;
            fastSinCos(argument[j], s, c);
            pulse[j] = std::fabs(s);
            outOfRange |= std::fabs(argument[j]) > kFastTrigLimit ? 1 : 0;
        }
        // Far past the show's times the fast reduction is no longer exact: use the slow sine.
        if (outOfRange) {
            for (uint32_t j = 0; j < n; ++j) {
                if (!(std::fabs(argument[j]) <= kFastTrigLimit))
                    pulse[j] = std::fabs(portableSin(argument[j]));
            }
        }
        // The tint is white for the whole show, so red and green are the pulse itself.
        for (uint32_t j = 0; j < n; ++j) {
            const float v = followTrack1 ? pulse[j] * track1Gain : pulse[j];
            Particle& particle = particles[first + j];
            particle.r = v;
            particle.g = v;
            particle.b = v * 2.21f;
            particle.a = 1.0f;
        }
    }
}

void Part01::draw(uint32_t t) {
    const float time = static_cast<float>(t);
    const SyncTracks& sync = demo->sync;
    additiveState();

    particleCount = countAt(t, sync.pattern);
    updateColors(t, particleCount);
    particlePass(particleSet, camera,
                 {{timeLocation, time},
                  {tracks2Location, sync.trackLevels[2]},
                  {psizeLocation, (sync.trackLevels[0] * 10.0f + 1.0f) * 0.125f}},
                 particleCount);

    credits.time = (time - kCreditsStartMs) / kCreditsMsPerUnit;
    credits.draw();
}
