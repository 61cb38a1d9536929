// The scenes' vectorised loops against the plain ones they replace: the random sets, Part 02's
// mask decisions and packing, and Part 03's strands bit for bit; Part 01's pulse within the
// stated bound of the fast sine.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/CpuDemoFixture.h"
#include "demo/Demo.h"
#include "loader/Loader.h"
#include "parts/FastTrig.h"
#include "parts/Part01.h"
#include "parts/Part02.h"
#include "parts/Part03.h"
#include "random/Random.h"
#include "support/SceneReference.h"
#include "support/TestSupport.h"

namespace {

using testing_support::ScopedChdir;
using testing_support::TempDir;
using testing_support::writeFile;

bool sameBits(const Particle& a, const Particle& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

using FastPaths = testing_support::CpuDemoFixture;

TEST(FastTrig, StaysWithinItsBoundOfTheLibrary) {
    // Every 4099th float up to the limit, both signs, and the neighbourhoods of the quadrant
    // boundaries where the reduction switches polynomials.
    float limitBits = kFastTrigLimit;
    uint32_t last;
    std::memcpy(&last, &limitBits, sizeof last);
    double worst = 0.0;
    auto check = [&](float x) {
        float s, c;
        fastSinCos(x, s, c);
        worst = std::max(worst, static_cast<double>(std::fabs(s - std::sin(x))));
        worst = std::max(worst, static_cast<double>(std::fabs(c - std::cos(x))));
    };
    for (uint32_t bits = 0; bits <= last; bits += 4099) {
        float x;
        std::memcpy(&x, &bits, sizeof x);
        check(x);
        check(-x);
    }
    for (int q = -5000; q <= 5000; ++q) {
        const float edge = static_cast<float>((q + 0.5) * M_PI / 2.0);
        float x = edge;
        for (int step = 0; step < 8; ++step) {
            check(x);
            x = std::nextafter(x, 0.0f);
        }
    }
    EXPECT_LE(worst, kFastTrigMaxError);
    EXPECT_GT(worst, 0.0); // it is an approximation; a zero would mean the test checks nothing
}

TEST(FastRandomSets, MatchThePlainBuildBitForBit) {
    std::vector<glm::vec3> fast, plain;
    Demo::buildRandomCloud(fast, false);
    const uint32_t stateAfterFast = Random::state();
    reference::randomCloud(plain);
    EXPECT_EQ(Random::state(), stateAfterFast);
    ASSERT_EQ(fast.size(), plain.size());
    EXPECT_EQ(std::memcmp(fast.data(), plain.data(), fast.size() * sizeof(glm::vec3)), 0);

    Demo::buildRandomDirections(fast, false);
    reference::randomDirections(plain);
    ASSERT_EQ(fast.size(), plain.size());
    EXPECT_EQ(std::memcmp(fast.data(), plain.data(), fast.size() * sizeof(glm::vec3)), 0);
}

TEST_F(FastPaths, Part01PulseStaysWithinTheSineBound) {
    Part01 part(demo_);
    ASSERT_TRUE(part.fillParticles());
    std::vector<Particle> plain(part.particleSet.particles.size());
    const struct {
        uint32_t t;
        int32_t pattern;
        float level1;
    } cases[] = {
        {0, 0, 0.5f},       {3000, 2, 0.25f},   {40000, 6, 0.0f},  {60000, 8, 0.9f},
        {104000, 11, 0.3f}, {106905, 12, 0.7f}, {900000, 12, 0.2f}}; // far past the show: the
                                                                     // slow sine takes over
    for (const auto& c : cases) {
        SCOPED_TRACE(c.t);
        demo_->sync.pattern = c.pattern;
        demo_->sync.trackLevels[1] = c.level1;
        part.updateColors(c.t, 11000);
        reference::part01Colors(*demo_, c.t, 11000, plain.data());
        const float gain = c.pattern < 4 ? 4.0f * c.level1 : 1.0f;
        // The library's float sine is itself within half a unit of the double one.
        const float bound = (kFastTrigMaxError + 6e-8f) * gain;
        for (uint32_t i = 0; i < 11000; ++i) {
            const Particle& p = part.particleSet.particles[i];
            ASSERT_NEAR(p.r, plain[i].r, bound) << i;
            ASSERT_EQ(p.g, p.r);
            ASSERT_EQ(p.b, p.r * 2.21f);
            ASSERT_EQ(p.a, 1.0f);
        }
    }
}

// A mask with fine detail everywhere: one-pixel stripes and noise, so that many particles sit
// next to a kept/dropped edge and a flipped cell would show.
std::vector<uint8_t> busyMask(uint32_t seed) {
    std::vector<uint8_t> bytes(kMaskHeaderBytes, 0);
    bytes[2] = 3;
    bytes[13] = 1;
    bytes[15] = 1;
    bytes[16] = 8;
    uint32_t state = seed;
    for (uint32_t row = 0; row < kMaskSide; ++row) {
        for (uint32_t column = 0; column < kMaskSide; ++column) {
            state = state * 1664525u + 1013904223u;
            const bool stripe = ((row + column) & 1) != 0;
            bytes.push_back(stripe ? 255 : static_cast<uint8_t>(state >> 24));
        }
    }
    return bytes;
}

TEST_F(FastPaths, Part02KeepsAndPacksExactlyAsThePlainLoop) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("assets"));
    for (uint32_t seed : {1u, 2u}) {
        writeFile(dir.file("assets/ventillator.tga"), busyMask(seed));
        Loader::Close();
        ScopedChdir in(dir.path());
        Part02 part(demo_);
        ASSERT_TRUE(part.fillParticles());
        ASSERT_TRUE(part.loadMask());
        part.particleGroups.reset(new int32_t[part.particleCount]);
        for (uint32_t j = 0; j < part.particleCount; ++j)
            part.particleGroups[j] = static_cast<int32_t>(j & 15);

        const struct {
            uint32_t t;
            float level2;
            int32_t note;
        } cases[] = {{106906, 0.0f, 0},     {110000, 0.31f, 3}, {120000, 0.77f, 15},
                     {131313, 0.5f, 7},     {141813, 0.99f, 2}, {3000000, 0.4f, 1},
                     {4294967295u, 0.2f, 9}};
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " t " << c.t);
            demo_->sync.trackLevels[2] = c.level2;
            demo_->sync.channelNotes[2] = c.note;
            // Both start from the same stale vector, as a frame after another would.
            std::vector<Particle> plain = part.particleSet.particles;
            const uint32_t kept = part.updateParticles(c.t);
            const uint32_t plainKept = reference::part02Particles(*demo_, part, c.t, plain.data());
            ASSERT_EQ(kept, plainKept);
            ASSERT_GT(kept, 1000u);
            for (uint32_t i = 0; i < part.particleCount; ++i)
                ASSERT_TRUE(sameBits(part.particleSet.particles[i], plain[i])) << "slot " << i;
        }
    }
    Loader::Close();
}

TEST_F(FastPaths, Part03MatchesTheSplinesBitForBit) {
    Part03 part(demo_);
    Random::srand(4242);
    part.buildStrands(false);
    std::vector<Particle> fast(Part03::kStrandCount), plain(Part03::kStrandCount);
    for (uint32_t k = 0; k < Part03::kStrandCount; ++k)
        fast[k].a = plain[k].a = static_cast<float>(k); // alpha is never written
    const struct {
        uint32_t t;
        float level2;
    } cases[] = {{0, 0.0f},      {141814, 0.0f},   {150000, 0.42f},
                 {163333, 0.9f}, {176721, 0.999f}, {4294967295u, 0.5f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.t);
        demo_->sync.trackLevels[2] = c.level2;
        part.updateParticles(c.t, fast.data());
        reference::part03Particles(*demo_, part, c.t, plain.data());
        uint32_t resting = 0;
        for (uint32_t k = 0; k < Part03::kStrandCount; ++k) {
            ASSERT_TRUE(sameBits(fast[k], plain[k])) << "particle " << k;
            resting += fast[k].z == 0.0f ? 1 : 0;
        }
        // A quarter of the cycle is spent resting at the strand's end.
        if (c.t != 0) {
            EXPECT_NEAR(resting, Part03::kStrandCount / 4, Part03::kStrandCount / 20);
        }
    }
}

} // namespace
