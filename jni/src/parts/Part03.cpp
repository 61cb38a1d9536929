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

// Four floats handled as one, for writing the results out as records.
typedef float Vec4 __attribute__((vector_size(16)));
typedef int32_t Vec4Index __attribute__((vector_size(16)));

inline Vec4 load(const float* p) {
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(float* p, Vec4 v) {
    std::memcpy(p, &v, sizeof v);
}
// Lanes I0..I3 of the eight lanes of a and b (GCC and clang spell this differently).
template <int I0, int I1, int I2, int I3>
inline Vec4 shuffle(Vec4 a, Vec4 b) {
#if defined(__clang__)
    return __builtin_shufflevector(a, b, I0, I1, I2, I3);
#else
    return __builtin_shuffle(a, b, Vec4Index{I0, I1, I2, I3});
#endif
}
// Rows a, b, c, d become four records (a[k], b[k], c[k], d[k]).
inline void transpose(Vec4 a, Vec4 b, Vec4 c, Vec4 d, Vec4 records[4]) {
    const Vec4 ab01 = shuffle<0, 4, 1, 5>(a, b);
    const Vec4 ab23 = shuffle<2, 6, 3, 7>(a, b);
    const Vec4 cd01 = shuffle<0, 4, 1, 5>(c, d);
    const Vec4 cd23 = shuffle<2, 6, 3, 7>(c, d);
    records[0] = shuffle<0, 1, 4, 5>(ab01, cd01);
    records[1] = shuffle<2, 3, 6, 7>(ab01, cd01);
    records[2] = shuffle<0, 1, 4, 5>(ab23, cd23);
    records[3] = shuffle<2, 3, 6, 7>(ab23, cd23);
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
    for (std::vector<float>* field : {&strandTopX, &strandTopY, &strandHeadingX, &strandHeadingY,
                                      &strandHeadingZ, &strandBend, &strandReach}) {
        field->assign(kStrandCount, 0.0f);
    }
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
        strandTopX[s] = strand.points[0].x;
        strandTopY[s] = strand.points[0].y;
        strandHeadingX[s] = a.x;
        strandHeadingY[s] = a.y;
        strandHeadingZ[s] = a.z;
        strandBend[s] = s1;
        strandReach[s] = s2;
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
    if (strandTopX.size() < kStrandCount || phaseSpeed.size() < kStrandCount)
        return;
    const float time = static_cast<float>(t);
    const float level = demo->sync.trackLevels[2];
    const float weight = (level * 1.0150001f + 1.0f) * 0.0056f;
    const double rate = time / 2130.435;
    const double levelSpeed = 0.003 * level;

    // The ramp's controls per segment and channel, and its two end colours.
    float ramp[3][4][3];
    for (int segment = 0; segment < 3; ++segment)
        for (int k = 0; k < 4; ++k)
            for (int channel = 0; channel < 3; ++channel)
                ramp[segment][k][channel] = rampControls[segment][k][channel];
    const float rampStart[3] = {rampControls[0][0][0], rampControls[0][0][1],
                                rampControls[0][0][2]};
    const float rampEnd[3] = {rampControls[3][3][0], rampControls[3][3][1], rampControls[3][3][2]};

    alignas(32) float outX[kBlock], outY[kBlock], outZ[kBlock];
    alignas(32) float outR[kBlock], outG[kBlock], outB[kBlock];
    for (uint32_t first = 0; first < kStrandCount; first += kBlock) {
        const uint32_t count = std::min(kBlock, kStrandCount - first);
        const float* speed = phaseSpeed.data() + first;
        const float* start = phaseStart.data() + first;
        const float* topX = strandTopX.data() + first;
        const float* topY = strandTopY.data() + first;
        const float* headX = strandHeadingX.data() + first;
        const float* headY = strandHeadingY.data() + first;
        const float* headZ = strandHeadingZ.data() + first;
        const float* bend = strandBend.data() + first;
        const float* reach = strandReach.data() + first;

        // One particle per lane: its place along the strand, the segment's Bezier weights, and
        // the strand and the ramp evaluated there with Spline::evaluate's operations in its
        // order (the tangents are recomputed from the control points as Spline::build does).
        for (uint32_t j = 0; j < count; ++j) {
            const float before = static_cast<float>((speed[j] + levelSpeed) * rate + start[j]);
            const float u = before * 0.25f;
            // u is not negative; from 2^23 on it has no fraction (and would not fit an int).
            const float whole = u < 8388608.0f ? u : 0.0f;
            const float fraction = whole - static_cast<float>(static_cast<int32_t>(whole));
            const float s = fraction * 4.0f;
            const int32_t segment = static_cast<int32_t>(s);
            const float v = s - static_cast<float>(segment);
            const float c = 1.0f - v;
            const float w0 = c * c * c;
            const float w1 = 3.0f * v * c * c;
            const float w2 = 3.0f * v * v * c;
            const float w3 = v * v * v;
            const bool first0 = segment == 0;
            const bool first1 = segment == 1;
            const bool atStart = !(s > 0.0f);
            const bool atEnd = s >= 3.0f;

            // Control points 0..3 of the strand; segment i runs from point i to point i+1
            // and reads its neighbours i-1 and i+2, clamped to the ends.
            auto cubic = [&](float p0, float p1, float p2, float p3) {
                const float previous = (first0 | first1) ? p0 : p1;
                const float from = first0 ? p0 : (first1 ? p1 : p2);
                const float to = first0 ? p1 : (first1 ? p2 : p3);
                const float next = first0 ? p2 : p3;
                const float outward = from + (to - previous) / 6.0f;
                const float inward = to - (next - from) / 6.0f;
                const float value = from * w0 + outward * w1 + inward * w2 + to * w3;
                return atStart ? p0 : (atEnd ? p3 : value);
            };
            const float ax = headX[j], ay = headY[j], az = headZ[j];
            outX[j] = cubic(topX[j], ax, bend[j] * ax, reach[j] * ax);
            outY[j] = cubic(topY[j], ay, bend[j] * ay, reach[j] * ay);
            outZ[j] = cubic(kStrandTopZ, az, bend[j] * az, 0.0f);

            // The ramp's segment controls are fixed: pick them, then the same cubic.
            float color[3];
            for (int channel = 0; channel < 3; ++channel) {
                float controls[4];
                for (int k = 0; k < 4; ++k) {
                    controls[k] = first0 ? ramp[0][k][channel]
                                         : (first1 ? ramp[1][k][channel] : ramp[2][k][channel]);
                }
                const float value =
                    controls[0] * w0 + controls[1] * w1 + controls[2] * w2 + controls[3] * w3;
                color[channel] = atStart ? rampStart[channel] : (atEnd ? rampEnd[channel] : value);
            }
            outR[j] = 0.52f * color[0];
            outG[j] = 0.75f * color[1];
            outB[j] = 1.1f * color[2];
        }

        // Into the shared particles, four at a time: the arrays are turned into records with
        // four-by-four transposes; colour a is left as it is.
        Particle* particles = out + first;
        const Vec4 weights = {weight, weight, weight, weight};
        uint32_t j = 0;
        for (; j + 4 <= count; j += 4) {
            Vec4 position[4], color[4];
            transpose(load(outX + j), load(outY + j), load(outZ + j), weights, position);
            transpose(load(outR + j), load(outG + j), load(outB + j), weights, color);
            for (uint32_t k = 0; k < 4; ++k) {
                Particle& particle = particles[j + k];
                const Vec4 kept = load(&particle.r);
                store(&particle.x, position[k]);
                store(&particle.r, shuffle<0, 1, 2, 7>(color[k], kept));
            }
        }
        for (; j < count; ++j) {
            Particle& particle = particles[j];
            particle.x = outX[j];
            particle.y = outY[j];
            particle.z = outZ[j];
            particle.w = weight;
            particle.r = outR[j];
            particle.g = outG[j];
            particle.b = outB[j];
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
