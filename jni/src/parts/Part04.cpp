// Scene 4: nothing is touched on the CPU after init; the tentacles move in the vertex shader
// and the camera rolls about Z.

#include "parts/Part04.h"

#include <cmath>

#include "demo/Demo.h"

namespace {

constexpr float kStartMs = static_cast<float>(kPart03EndMs);
constexpr float kLengthMs = 17454.0f; // two patterns

} // namespace

bool Part04::init() {
    if (!fillTentacles())
        return false;
    const float width = static_cast<float>(demo->screenWidth);
    if (!tentacleSet.load("particlePart04.glsl", "envflare3.tga", width))
        return false;
    lookupUniforms(tentacleSet, {"uTime", "uPsize", "uPart04tentaclespeed2"},
                   {&tentacleTimeLocation, &tentaclePsizeLocation, &tentacleSpeedLocation});
    if (!tentacleSet.upload())
        return false;

    if (!fillCloud())
        return false;
    if (!cloudSet.load("particlePart03.glsl", "envflare3.tga", width))
        return false;
    if (!cloudSet.upload())
        return false;
    lookupUniforms(cloudSet, {"uPsize"}, {&cloudPsizeLocation});

    sceneLens(camera);
    camera.sideOffset = 0.019999648f;
    camera.upOffset = 0.099999905f;
    camera.viewOffset = -8.6900654f;
    return true;
}

bool Part04::fillTentacles() {
    if (!hasSharedSets(0, kTentacles))
        return false;
    tentacleSet.particles.assign(kTentacleParticles, Particle{});
    for (uint32_t i = 0; i < kTentacleParticles; ++i) {
        const glm::vec3& d = demo->randomDirections[i / kTentacleLength];
        const float quotient = static_cast<float>(i) / static_cast<float>(kTentacleLength);
        tentacleSet.particles[i] =
            Particle{d.x, d.y, d.z, quotient - std::trunc(quotient), 0.1f, 0.15f, 0.2f, 1.0f};
    }
    return true;
}

bool Part04::fillCloud() {
    if (!hasSharedSets(kCloudParticles, kCloudParticles))
        return false;
    cloudSet.particles.assign(kCloudParticles, Particle{});
    for (uint32_t k = 0; k < kCloudParticles; ++k) {
        const glm::vec3& p = demo->randomPoints[k];
        const float d = demo->randomDirections[k].x;
        cloudSet.particles[k] = Particle{25.0f * p.x, 25.0f * p.y, 25.0f * p.z, 0.1f,
                                         0.1f * d,    0.15f * d,   0.2f * d,    0.0f};
    }
    return true;
}

float Part04::progressAt(uint32_t t) {
    const float e = (static_cast<float>(t) - kStartMs) / kLengthMs;
    return e == 0.0f ? 0.00001f : e;
}

void Part04::draw(uint32_t t) {
    const float time = static_cast<float>(t);
    const SyncTracks& sync = demo->sync;

    // A steady roll about Z: 10 degrees per second of music.
    camera.rotationX = -52.342598f;
    camera.rotationY = -385.34259f;
    camera.rotationZ = time / 100.0f + 1714.116f;
    camera.update();
    additiveState();

    const float size = (sync.trackLevels[2] * 0.79800004f + 1.0f) * 0.01f;
    particlePass(cloudSet, camera, {{cloudPsizeLocation, size * 12.561001f}}, 0);
    particlePass(tentacleSet, camera,
                 {{tentacleTimeLocation, time},
                  {tentaclePsizeLocation, size},
                  {tentacleSpeedLocation, tentacleSpeed(t)}},
                 0);
}
