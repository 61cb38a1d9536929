// Scene 3: the fixed cloud lives in a vertex buffer; the 40000 strand particles are evaluated
// on the CPU every frame into the first 40000 particles of the Demo's shared set.

#include "parts/Part03.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "demo/Demo.h"
#include "parts/FastTrig.h"
#include "progress/Progress.h"
#include "random/Random.h"

namespace {

constexpr uint32_t kStepEvery = 10000;
constexpr float kStrandTopZ = 3.0f;
// Directions steeper than this in the XY plane are skipped when picking a strand's heading.
constexpr float kMaxFlatLength = 0.8f;
// Phases and Bezier weights are computed a block at a time into plain arrays.
constexpr uint32_t kBlock = 256;

// Four floats handled as one: x, y, z and a lane that is carried along unused.
typedef float Vec4 __attribute__((vector_size(16)));
typedef int32_t Vec4Mask __attribute__((vector_size(16)));

inline Vec4 load(const float* p) {
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

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
    shapes.assign(kStrandCount, StrandShape{});
    phaseSpeed.assign(kStrandCount, 0.0f);
    phaseStart.assign(kStrandCount, 0.0f);
    for (uint32_t k = 0; k < kStrandCount && k < pointCount; ++k) {
        phaseSpeed[k] = std::fabs(points[k].y) + 1.0f;
        phaseStart[k] = 4.0f * std::fabs(points[k].x);
    }
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
        shapes[s] =
            StrandShape{strand.points[0].x, strand.points[0].y, a.x, a.y, a.z, s1, s2, 0.0f};
        if (takeSteps && s % kStepEvery == 0)
            progressStep();
    }

    // Black, pale blue-white, red, back to black.
    colorRamp.points = {glm::vec3(0.0f, 0.0f, 0.0f), glm::vec3(1.0f, 1.0f, 1.0f),
                        glm::vec3(1.33f, 0.33f, 0.33f), glm::vec3(0.0f, 0.0f, 0.0f)};
    colorRamp.build();
    for (int segment = 0; segment < 4; ++segment) {
        const int next = std::min(segment + 1, 3);
        const glm::vec3& p = colorRamp.points[std::min(segment, 3)];
        const glm::vec3& q = colorRamp.points[next];
        const glm::vec3 controls[4] = {p, segment < 3 ? p + colorRamp.tangents[segment] : q,
                                       segment < 3 ? q - colorRamp.tangents[next] : q, q};
        for (int c = 0; c < 4; ++c) {
            rampControls[segment][c][0] = controls[c].x;
            rampControls[segment][c][1] = controls[c].y;
            rampControls[segment][c][2] = controls[c].z;
            rampControls[segment][c][3] = 0.0f;
        }
    }
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

LUMENFALL_WIDE_VECTORS
void Part03::updateParticles(uint32_t t, Particle* out) const {
    if (shapes.size() < kStrandCount || phaseSpeed.size() < kStrandCount)
        return;
    const float time = static_cast<float>(t);
    const float level = demo->sync.trackLevels[2];
    const float weight = (level * 1.0150001f + 1.0f) * 0.0056f;
    const double rate = time / 2130.435;
    const double levelSpeed = 0.003 * level;
    const Vec4 colorScale = {0.52f, 0.75f, 1.1f, 0.0f};

    alignas(16) float along[kBlock];
    alignas(16) int32_t segmentOf[kBlock];
    alignas(16) float w0[kBlock], w1[kBlock], w2[kBlock], w3[kBlock];
    for (uint32_t first = 0; first < kStrandCount; first += kBlock) {
        const uint32_t count = std::min(kBlock, kStrandCount - first);

        // Where each particle is along its strand, the segment and the four Bezier weights,
        // with the same single- and double-precision steps as Spline::evaluate's caller.
        for (uint32_t j = 0; j < count; ++j) {
            const float before = static_cast<float>((phaseSpeed[first + j] + levelSpeed) * rate +
                                                    phaseStart[first + j]);
            const float u = before * 0.25f;
            // u is not negative; from 2^23 on it has no fraction (and would not fit an int).
            const float whole = u < 8388608.0f ? u : 0.0f;
            const float fraction = whole - static_cast<float>(static_cast<int32_t>(whole));
            const float s = fraction * 4.0f;
            const int32_t segment = static_cast<int32_t>(s);
            const float v = s - static_cast<float>(segment);
            const float c = 1.0f - v;
            along[j] = s;
            segmentOf[j] = segment;
            w0[j] = c * c * c;
            w1[j] = 3.0f * v * c * c;
            w2[j] = 3.0f * v * v * c;
            w3[j] = v * v * v;
        }

        // The cubic of each strand's segment, four coordinates at a time.
        for (uint32_t j = 0; j < count; ++j) {
            const StrandShape& shape = shapes[first + j];
            const Vec4 heading = {shape.headingX, shape.headingY, shape.headingZ, 0.0f};
            const Vec4 top = {shape.topX, shape.topY, kStrandTopZ, 0.0f};
            const Vec4 bottom = {shape.headingX * shape.s2, shape.headingY * shape.s2, 0.0f, 0.0f};
            // Control points with the ends repeated, so segment i reads entries i .. i+3 as
            // (point i-1, point i, point i+1, point i+2) clamped to the curve.
            const Vec4 points[7] = {top, top, heading, heading * shape.s1, bottom, bottom, bottom};
            const int32_t segment = segmentOf[j];
            const Vec4 before = points[segment];
            const Vec4 p = points[segment + 1];
            const Vec4 q = points[segment + 2];
            const Vec4 after = points[segment + 3];
            const Vec4 outward = p + (q - before) / 6.0f;
            const Vec4 inward = q - (after - p) / 6.0f;
            Vec4 position = p * w0[j] + outward * w1[j] + inward * w2[j] + q * w3[j];

            const float(*ramp)[4] = rampControls[segment];
            Vec4 color = load(ramp[0]) * w0[j] + load(ramp[1]) * w1[j] + load(ramp[2]) * w2[j] +
                         load(ramp[3]) * w3[j];

            // The ends are the control points themselves, not a cubic's value there.
            const float s = along[j];
            const Vec4Mask atStart = Vec4Mask{} - (s > 0.0f ? 0 : 1);
            const Vec4Mask atEnd = Vec4Mask{} - (s >= 3.0f ? 1 : 0);
            position = atStart ? top : (atEnd ? bottom : position);
            color = atStart ? load(rampControls[0][0]) : (atEnd ? load(rampControls[3][3]) : color);
            color *= colorScale;

            Particle& particle = out[first + j];
            particle.x = position[0];
            particle.y = position[1];
            particle.z = position[2];
            particle.w = weight;
            particle.r = color[0];
            particle.g = color[1];
            particle.b = color[2];
        }
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
