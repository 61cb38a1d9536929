// Scene 5: three static layers; the clouds grow by drawing a growing prefix of their buffers
// and through the "part05cloud" uniform. The closing title comes in at 211630 ms.

#include "parts/Part05.h"

#include <algorithm>
#include <cmath>

#include "demo/Demo.h"

uint32_t part05CloudCount = Part05::kMaxCloud;
float part05CloudGrowth = 0.0f;

namespace {

constexpr uint32_t kStartMs = kPart04EndMs;
constexpr uint32_t kVegeStartMs = 211630;
constexpr uint32_t kSecondPointOffset = 1000; // q = point k + 1000

} // namespace

bool Part05::init() {
    const float width = static_cast<float>(demo->screenWidth);
    // The clouds are sized from the process-wide count, which starts at 35000.
    const uint32_t cloudCount = part05CloudCount;

    if (!fillDisc(cloudCount))
        return false;
    if (!discSet.load("particlePart051.glsl", "envflare3.tga", width))
        return false;
    if (!discSet.upload())
        return false;
    lookupUniforms(discSet, {"uPsize", "uTime", "part05cloud"},
                   {&discPsizeLocation, &discTimeLocation, &discCloudLocation});

    if (!fillSphere(cloudCount))
        return false;
    if (!sphereSet.load("particlePart052.glsl", "envflare3.tga", width))
        return false;
    if (!sphereSet.upload())
        return false;
    lookupUniforms(sphereSet, {"uPsize", "uTime", "part05cloud"},
                   {&spherePsizeLocation, &sphereTimeLocation, &sphereCloudLocation});

    if (!fillBackground())
        return false;
    if (!backgroundSet.load("particlePart03.glsl", "envflare3.tga", width))
        return false;
    if (!backgroundSet.upload())
        return false;
    lookupUniforms(backgroundSet, {"uPsize"}, {&backgroundPsizeLocation});

    if (!vege.load("vege.ife"))
        return false;

    sceneLens(camera);
    return true;
}

bool Part05::fillDisc(uint32_t cloudCount) {
    if (!hasSharedSets(cloudCount + kSecondPointOffset, cloudCount))
        return false;
    discSet.particles.assign(cloudCount, Particle{});
    for (uint32_t k = 0; k < cloudCount; ++k) {
        const glm::vec3& p = demo->randomPoints[k];
        const glm::vec3& q = demo->randomPoints[k + kSecondPointOffset];
        const glm::vec3& d = demo->randomDirections[k];
        const float b = std::fabs(p.y) + 1.0f;
        discSet.particles[k] =
            Particle{b * q.x / 50.0f, b * d.y, b * d.z, p.x, 0.1f, 0.1f, 0.15f, std::fabs(p.z)};
    }
    return true;
}

bool Part05::fillSphere(uint32_t cloudCount) {
    const uint32_t count = cloudCount / 4;
    if (!hasSharedSets(count + kSecondPointOffset, count))
        return false;
    sphereSet.particles.assign(count, Particle{});
    for (uint32_t k = 0; k < count; ++k) {
        const glm::vec3& p = demo->randomPoints[k];
        const glm::vec3& q = demo->randomPoints[k + kSecondPointOffset];
        const glm::vec3& d = demo->randomDirections[k];
        sphereSet.particles[k] = Particle{d.x, d.y, d.z, q.x, std::fabs(p.z), p.y, p.x, 0.0f};
    }
    return true;
}

bool Part05::fillBackground() {
    if (!hasSharedSets(kBackgroundParticles, kBackgroundParticles))
        return false;
    backgroundSet.particles.assign(kBackgroundParticles, Particle{});
    for (uint32_t k = 0; k < kBackgroundParticles; ++k) {
        const glm::vec3& p = demo->randomPoints[k];
        const float d = demo->randomDirections[k].x;
        backgroundSet.particles[k] = Particle{50.0f * p.x, 50.0f * p.y, 50.0f * p.z, 0.1f,
                                              0.1f * d,    0.1f * d,    0.15f * d,   0.0f};
    }
    return true;
}

uint32_t Part05::cloudCountAt(uint32_t t) {
    // Scene time wraps before the window opens; the cap keeps the count sane either way.
    const float sceneTime = static_cast<float>(t - kStartMs);
    const uint32_t count = static_cast<uint32_t>(static_cast<int64_t>(4.0f * sceneTime));
    return std::min(count, kMaxCloud);
}

float Part05::cloudGrowthAt(uint32_t t) {
    return static_cast<float>(t - kStartMs) / 70000.0f;
}

void Part05::draw(uint32_t t) {
    const float time = static_cast<float>(t);
    const SyncTracks& sync = demo->sync;
    part05CloudCount = cloudCountAt(t);
    part05CloudGrowth = cloudGrowthAt(t);

    camera.sideOffset = 0.0f;
    camera.upOffset = 0.0f;
    camera.viewOffset = 17.0f;
    camera.rotationX = time / 1000.0f - 140.0f;
    camera.rotationY = -278.0f;
    camera.rotationZ = 0.0f;
    camera.update();
    additiveState();

    const float pointSize = (sync.trackLevels[2] + 1.0f) * 0.072f;
    // A count of 0 would mean the whole buffer; a cloud that has not grown draws nothing.
    const uint32_t discCount = part05CloudCount;
    const uint32_t sphereCount = discCount / 4;
    if (discCount > 0) {
        particlePass(discSet, camera,
                     {{discPsizeLocation, pointSize},
                      {discTimeLocation, time},
                      {discCloudLocation, part05CloudGrowth}},
                     discCount);
    }
    if (sphereCount > 0) {
        particlePass(sphereSet, camera,
                     {{spherePsizeLocation, pointSize},
                      {sphereTimeLocation, time},
                      {sphereCloudLocation, part05CloudGrowth}},
                     sphereCount);
    }
    particlePass(backgroundSet, camera,
                 {{backgroundPsizeLocation, (sync.trackLevels[0] + 1.0f) * 0.48400003f * 0.4f}}, 0);

    const int32_t sinceVege = static_cast<int32_t>(t - kVegeStartMs);
    if (sinceVege > 0) {
        vege.time = static_cast<float>(sinceVege / 8.727);
        vege.draw();
    }
}
