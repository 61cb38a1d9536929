// The plain loops, kept as the scenes first had them.

#include "support/SceneReference.h"

#include <cmath>

#include "camera/Camera.h"
#include "demo/Demo.h"
#include "parts/Part02.h"
#include "parts/Part03.h"
#include "random/Random.h"

namespace reference {

void part01Colors(const Demo& demo, uint32_t t, uint32_t count, Particle* out) {
    const float time = static_cast<float>(t);
    const bool followTrack1 = demo.sync.pattern < 4;
    const float track1Gain = 4.0f * demo.sync.trackLevels[1];
    const glm::vec3* phase = demo.randomPoints.data() + 404;
    const glm::vec3* offset = demo.randomPoints.data() + 808;
    for (uint32_t i = 0; i < count; ++i) {
        const float argument = static_cast<float>(phase[i].x * time * 0.0122 + offset[i].y);
        float v = std::fabs(static_cast<float>(std::sin(static_cast<double>(argument))));
        if (followTrack1)
            v *= track1Gain;
        out[i].r = v;
        out[i].g = v;
        out[i].b = v * 2.21f;
        out[i].a = 1.0f;
    }
}

namespace {

uint32_t gridCell(float v) {
    const float cell = (v + 1.0f) * 128.0f;
    return cell > -1.0f && cell < 256.0f ? static_cast<uint32_t>(static_cast<int32_t>(cell)) : 255u;
}

} // namespace

uint32_t part02Particles(const Demo& demo, const Part02& part, uint32_t t, Particle* out) {
    const float time = static_cast<float>(t);
    const float drift = time / 4000.0f;
    const double swirlBase = time / 6.0;
    const float level = demo.sync.trackLevels[2];
    const int32_t highlighted = demo.sync.channelNotes[2];
    const float* mask = part.densityMask.get();
    uint32_t n = 0;
    for (uint32_t i = 0; i < part.particleCount; ++i) {
        const glm::vec3 moved = demo.randomPoints[i] + drift * demo.randomDirections[i];
        const float fx = moved.x - std::trunc(moved.x);
        const float fy = moved.y - std::trunc(moved.y);
        const float fz = moved.z - std::trunc(moved.z);
        const double angle = (swirlBase + level * 45.0f) - fy * 90.0f * 0.629 * level;
        const glm::vec3 r = rotateVector(glm::vec3(fx, 0.0f, fz), 0.0f, static_cast<float>(angle));
        const float m = mask[kMaskHeaderBytes + gridCell(r.z) * kMaskSide + gridCell(r.x)];
        if (m > 0.0f) {
            Particle& slot = out[n];
            slot.x = fx;
            slot.y = fy;
            slot.z = fz;
            slot.b = m;
            slot.a = part.particleGroups[i] == highlighted ? 2.0f : 1.0f;
            ++n;
        }
    }
    return n;
}

void part03Particles(const Demo& demo, const Part03& part, uint32_t t, Particle* out) {
    const float time = static_cast<float>(t);
    const float level = demo.sync.trackLevels[2];
    const float weight = (level * 1.0150001f + 1.0f) * 0.0056f;
    const double rate = time / 2130.435;
    const double levelSpeed = 0.003 * level;
    for (uint32_t k = 0; k < Part03::kStrandCount; ++k) {
        const glm::vec3& p = demo.randomPoints[k];
        const float before = static_cast<float>(((std::fabs(p.y) + 1.0f) + levelSpeed) * rate +
                                                4.0f * std::fabs(p.x));
        const float u = before * 0.25f;
        const float s = (u - std::trunc(u)) * 4.0f;
        const glm::vec3 position = part.strands[k].evaluate(s);
        const glm::vec3 c = part.colorRamp.evaluate(s);
        out[k].x = position.x;
        out[k].y = position.y;
        out[k].z = position.z;
        out[k].w = weight;
        out[k].r = 0.52f * c.r;
        out[k].g = 0.75f * c.g;
        out[k].b = 1.1f * c.b;
    }
}

void randomCloud(std::vector<glm::vec3>& out) {
    out.clear();
    Random::srand(13886772);
    for (uint32_t i = 0; i < kRandomSetSize; ++i) {
        const int r1 = Random::rand() % 2000;
        const int r2 = Random::rand() % 2000;
        const int r3 = Random::rand() % 2000;
        out.emplace_back(static_cast<float>(r3 / 1000.0 - 1.0),
                         static_cast<float>(r2 / 1000.0 - 1.0),
                         static_cast<float>(r1 / 1000.0 - 1.0));
    }
}

void randomDirections(std::vector<glm::vec3>& out) {
    out.clear();
    Random::srand(771);
    for (uint32_t i = 0; i < kRandomSetSize; ++i) {
        const int r1 = Random::rand() % 360;
        const int r2 = Random::rand() % 360;
        out.push_back(rotateVector(glm::vec3(1.0f, 0.0f, 0.0f), static_cast<float>(r2),
                                   static_cast<float>(r1)));
    }
}

} // namespace reference
