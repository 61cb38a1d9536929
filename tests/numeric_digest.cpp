// The numbers behind the picture, each set reduced to one 64-bit digest per line: the random
// sets, the portable sine, cameras, splines and one frame of every scene's particles. The
// tests build this twice, for the x86-64 baseline and for x86-64-v3 (AVX2 and FMA), and the
// two must print the same lines: the show may not depend on the build's instruction set.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <glm/glm.hpp>

#include "camera/Camera.h"
#include "demo/Demo.h"
#include "math/PortableMath.h"
#include "parts/Part01.h"
#include "parts/Part02.h"
#include "parts/Part03.h"
#include "parts/Part04.h"
#include "parts/Part05.h"
#include "random/Random.h"

int runNumericDigest();

namespace {

class Digest {
public:
    explicit Digest(const char* name) : label(name) {}
    ~Digest() { std::printf("%-24s %016llx\n", label, static_cast<unsigned long long>(hash)); }

    void add(const void* data, size_t size) {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            hash ^= bytes[i];
            hash *= 1099511628211ull;
        }
    }
    template <typename T> void add(const T& value) { add(&value, sizeof value); }
    template <typename T> void add(const std::vector<T>& values) {
        add(values.data(), values.size() * sizeof(T));
    }

private:
    const char* label;
    uint64_t hash = 1469598103934665603ull; // FNV-1a
};

void digestTrig() {
    Digest digest("portable trig");
    for (int i = -200000; i <= 200000; ++i) {
        const float x = static_cast<float>(i) * 0.0137f;
        digest.add(portableSin(x));
        digest.add(portableCos(x));
        digest.add(portableTan(x * 0.1f));
    }
    for (float x : {1e6f, -3.5e7f, 1e30f, 8192.5f})
        digest.add(portableSin(x));
}

void digestCameras() {
    Digest digest("cameras");
    for (int i = 0; i < 400; ++i) {
        const float f = static_cast<float>(i);
        Camera camera;
        camera.fov = 30.0f + 0.37f * f;
        camera.eye = glm::vec3(10.0f - 0.1f * f, 3.0f + 0.05f * f, 10.0f);
        camera.target = glm::vec3(0.01f * f, -0.2f, 0.5f);
        camera.sideOffset = 0.019999648f * f;
        camera.upOffset = 0.099999905f - 0.003f * f;
        camera.viewOffset = -8.6900654f + 0.07f * f;
        camera.rotationX = -52.342598f + 9.1f * f;
        camera.rotationY = -385.34259f + 3.3f * f;
        camera.rotationZ = (176721.0f + 60.0f * f) / 100.0f + 1714.116f;
        camera.update();
        digest.add(camera.projection);
        digest.add(camera.view);
        digest.add(camera.model);
        digest.add(rotateVector(glm::vec3(0.3f, -0.7f, 0.2f), 1.7f * f - 300.0f, 0.9f * f));
    }
}

void digestScenes(Demo& demo) {
    {
        Part01 part(&demo);
        part.fillParticles();
        demo.sync.pattern = 3;
        demo.sync.trackLevels[1] = 0.37f;
        part.updateColors(30000, 11000);
        Digest("part 01 colours").add(part.particleSet.particles);
        part.updateColors(900000, 11000);
        Digest("part 01 far colours").add(part.particleSet.particles);
    }
    {
        Part02 part(&demo);
        part.fillParticles();
        // A mask with detail everywhere, so that a particle moved by a rounding changes cells.
        part.maskFileSize = kMaskHeaderBytes + kMaskSide * kMaskSide;
        part.densityMask.reset(new float[part.maskFileSize]);
        uint32_t state = 7;
        for (uint32_t j = 0; j < part.maskFileSize; ++j) {
            state = state * 1664525u + 1013904223u;
            part.densityMask[j] = (j & 1) != 0 ? 0.0f : static_cast<float>(state >> 24) / 255.0f;
        }
        part.particleGroups.reset(new int32_t[part.particleCount]);
        for (uint32_t j = 0; j < part.particleCount; ++j)
            part.particleGroups[j] = static_cast<int32_t>(j & 15);
        demo.sync.trackLevels[2] = 0.61f;
        demo.sync.channelNotes[2] = 5;
        Digest digest("part 02 particles");
        digest.add(part.updateParticles(130000));
        digest.add(part.particleSet.particles);
        Digest shots("part 02 shots");
        for (int32_t pattern = 0; pattern < 24; ++pattern) {
            part.chooseShot(pattern);
            part.camera.update();
            shots.add(part.camera.view);
            shots.add(part.camera.model);
        }
    }
    {
        Part03 part(&demo);
        Random::srand(4242);
        part.buildStrands(false);
        Digest splines("part 03 splines");
        for (uint32_t s = 0; s < Part03::kStrandCount; s += 97) {
            for (float along : {0.0f, 0.13f, 0.5f, 0.77f, 0.999f})
                splines.add(part.strands[s].evaluate(along));
        }
        demo.sync.trackLevels[2] = 0.42f;
        std::vector<Particle> particles(Part03::kStrandCount);
        part.updateParticles(150000, particles.data());
        Digest("part 03 particles").add(particles);
        Digest shots("part 03 shots");
        for (int32_t pattern = 14; pattern < 22; ++pattern) {
            part.chooseShot(pattern, 150000 + 1000 * static_cast<uint32_t>(pattern));
            part.camera.update();
            shots.add(part.camera.view);
            shots.add(part.camera.model);
        }
    }
    {
        Part04 part(&demo);
        part.fillTentacles();
        part.fillCloud();
        Digest digest("part 04 particles");
        digest.add(part.tentacleSet.particles);
        digest.add(part.cloudSet.particles);
        for (uint32_t t = 176721; t < 194175; t += 777)
            digest.add(Part04::tentacleSpeed(t));
    }
    {
        Part05 part(&demo);
        part.fillDisc(Part05::kMaxCloud);
        part.fillSphere(Part05::kMaxCloud);
        part.fillBackground();
        Digest digest("part 05 particles");
        digest.add(part.discSet.particles);
        digest.add(part.sphereSet.particles);
        digest.add(part.backgroundSet.particles);
        for (uint32_t t = 194175; t < 216000; t += 911) {
            digest.add(Part05::cloudCountAt(t));
            digest.add(Part05::cloudGrowthAt(t));
        }
    }
}

} // namespace

int runNumericDigest() {
    Demo demo;
    Demo::buildRandomCloud(demo.randomPoints, false);
    Demo::buildRandomDirections(demo.randomDirections, false);
    demo.sharedParticles.particles.assign(kSharedParticles, Particle{});
    Digest("random points").add(demo.randomPoints);
    Digest("random directions").add(demo.randomDirections);
    digestTrig();
    digestCameras();
    digestScenes(demo);
    return 0;
}
