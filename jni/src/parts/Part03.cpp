// Scene 3: the fixed cloud lives in a vertex buffer; the 40000 strand particles are evaluated
// on the CPU every frame into the first 40000 particles of the Demo's shared set.

#include "parts/Part03.h"

#include <cmath>

#include "demo/Demo.h"
#include "progress/Progress.h"
#include "random/Random.h"

namespace {

constexpr uint32_t kStepEvery = 10000;
constexpr float kStrandTopZ = 3.0f;
// Directions steeper than this in the XY plane are skipped when picking a strand's heading.
constexpr float kMaxFlatLength = 0.8f;

} // namespace

bool Part03::init() {
    if (!fillCloud())
        return false;
    if (!particleSet.load("particlePart03.glsl", "envflare3.tga",
                          static_cast<float>(demo->screenWidth))) {
        return false;
    }
    if (!particleSet.upload())
        return false;
    lookupUniforms(particleSet, {"uPsize"}, {&psizeLocation});

    sceneLens(camera);
    openingShot(camera);

    progressStep();
    // The strands need the full random sets, and the moving particles the shared set.
    if (!hasSharedSets(kRandomSetSize, kRandomSetSize))
        return false;
    if (demo->sharedParticles.particles.size() < kStrandCount)
        return false;
    buildStrands(true);
    return true;
}

bool Part03::fillCloud() {
    if (!hasSharedSets(kCloudParticles, kCloudParticles))
        return false;
    particleSet.particles.assign(kCloudParticles, Particle{});
    for (uint32_t k = 0; k < kCloudParticles; ++k) {
        const glm::vec3& p = demo->randomPoints[k];
        const float d = demo->randomDirections[k].x;
        Particle& particle = particleSet.particles[k];
        particle.x = 25.0f * p.x;
        particle.y = 25.0f * p.y;
        particle.z = 25.0f * p.z;
        particle.w = 0.1f;
        // All three channels scale the same coordinate, so half the cloud is negative.
        particle.r = 0.52f * d;
        particle.g = 0.75f * d;
        particle.b = 1.1f * d;
    }
    return true;
}

void Part03::buildStrands(bool takeSteps) {
    strands.clear();
    strands.resize(kStrandCount);
    for (uint32_t s = 0; s < kStrandCount; ++s) {
        strands[s].points.assign(4, glm::vec3(0.0f));
        if (takeSteps && s % kStepEvery == 0)
            progressStep();
    }

    const std::vector<glm::vec3>& points = demo->randomPoints;
    const std::vector<glm::vec3>& directions = demo->randomDirections;
    const size_t pointCount = points.size();
    const size_t directionCount = directions.size();
    // One running index shared by all strands; it wraps round both random sets.
    uint64_t j = 0;
    for (uint32_t s = 0; s < kStrandCount; ++s) {
        glm::vec3 d(0.0f, 0.0f, 1.0f);
        if (directionCount > 0) {
            // Bounded search: a set without a single flat enough direction cannot hang us.
            for (size_t tries = 0; tries < directionCount; ++tries, ++j) {
                d = directions[j % directionCount];
                if (std::sqrt(d.x * d.x + d.y * d.y) <= kMaxFlatLength)
                    break;
            }
        }
        ++j;
        const glm::vec3 a(d.x, d.y, std::fabs(d.z));
        const float s1 = static_cast<float>(Random::rand() % 500 + 1000) / 1000.0f;
        const float s2 = static_cast<float>(Random::rand() % 750 + 1500) / 1000.0f;
        const glm::vec3 q = pointCount > 0 ? points[j % pointCount] : glm::vec3(0.0f);

        Spline& strand = strands[s];
        strand.points[0] = glm::vec3(a.x + 0.25f * q.x, a.y + 0.25f * q.y, kStrandTopZ);
        strand.points[1] = a;
        strand.points[2] = s1 * a;
        strand.points[3] = glm::vec3(s2 * a.x, s2 * a.y, 0.0f);
        strand.build();
        if (takeSteps && s % kStepEvery == 0)
            progressStep();
    }

    // Black, pale blue-white, red, back to black.
    colorRamp.points = {glm::vec3(0.0f, 0.0f, 0.0f), glm::vec3(1.0f, 1.0f, 1.0f),
                        glm::vec3(1.33f, 0.33f, 0.33f), glm::vec3(0.0f, 0.0f, 0.0f)};
    colorRamp.build();
}

void Part03::chooseShot(int32_t pattern, uint32_t t) {
    const double time = static_cast<float>(t);
    auto set = [this](double side, double up, double view, double x, double y, double z) {
        camera.sideOffset = static_cast<float>(side);
        camera.upOffset = static_cast<float>(up);
        camera.viewOffset = static_cast<float>(view);
        camera.rotationX = static_cast<float>(x);
        camera.rotationY = static_cast<float>(y);
        camera.rotationZ = static_cast<float>(z);
    };
    switch (pattern) {
    case 17:
        set(-0.68000031, -0.40000007, -8.2100544, 47 + 0.0001 * time, -61 - 0.0009 * time,
            3 + 0.005 * time);
        break;
    case 18:
        set(-0.080000304, -0.80000007, -8.2600555, -113, 0.0003 * time, 0.0097 * time);
        break;
    case 19:
        set(-0.48000032, -0.20000009, -8.6900654, -0.0003 * time, 0.0003 * time, -0.0145 * time);
        break;
    case 20:
        set(0.61999965, -0.40000010, -8.6900654, -14 - 0.0002 * time, -322 - 0.0002 * time,
            0.0097 * time);
        break;
    default:
        break; // the last shot stays
    }
}

void Part03::updateParticles(uint32_t t, Particle* out) const {
    if (strands.size() < kStrandCount || demo->randomPoints.size() < kStrandCount)
        return;
    const float time = static_cast<float>(t);
    const float level = demo->sync.trackLevels[2];
    const float weight = (level * 1.0150001f + 1.0f) * 0.0056f;
    const double rate = time / 2130.435;
    const double levelSpeed = 0.003 * level;
    const glm::vec3* points = demo->randomPoints.data();
    for (uint32_t k = 0; k < kStrandCount; ++k) {
        const glm::vec3& p = points[k];
        const float before = static_cast<float>(((std::fabs(p.y) + 1.0f) + levelSpeed) * rate +
                                                4.0f * std::fabs(p.x));
        const float u = before * 0.25f;
        // A position in [0, 4): from 3 on the particle rests at the strand's end.
        const float s = (u - std::trunc(u)) * 4.0f;
        const glm::vec3 position = strands[k].evaluate(s);
        const glm::vec3 c = colorRamp.evaluate(s);
        Particle& particle = out[k];
        particle.x = position.x;
        particle.y = position.y;
        particle.z = position.z;
        particle.w = weight;
        particle.r = 0.52f * c.r;
        particle.g = 0.75f * c.g;
        particle.b = 1.1f * c.b;
    }
}

void Part03::draw(uint32_t t) {
    const SyncTracks& sync = demo->sync;
    chooseShot(sync.pattern, t);
    camera.update();
    additiveState();

    const float weight = (sync.trackLevels[2] * 1.0150001f + 1.0f) * 0.0056f;
    ParticleSet& shared = demo->sharedParticles;
    updateParticles(t, shared.particles.data());

    particlePass(particleSet, camera, {{psizeLocation, weight * 30.0f * sync.trackLevels[4]}}, 0);
    particlePass(shared, camera, {}, kStrandCount);
}
