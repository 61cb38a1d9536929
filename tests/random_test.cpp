// The generator and the two shared random sets the whole show is built from.

#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "demo/Demo.h"
#include "progress/Progress.h"
#include "random/Random.h"

namespace {

// An independent rendition of the rule in 64-bit arithmetic.
struct ReferenceGenerator {
    uint64_t state;
    int next() {
        state = (state * 214013u + 2531011u) % 4294967296ull;
        return static_cast<int>((state / 65536) % 32768);
    }
};

TEST(Random, ReproducesTheKnownSequenceAfterSeedOne) {
    Random::srand(1);
    const int expected[] = {41, 18467, 6334, 26500, 19169};
    for (int value : expected)
        EXPECT_EQ(Random::rand(), value);
}

TEST(Random, StateWrapsModuloTwoToThe32) {
    for (uint32_t seed : {0u, 13886772u, 771u, 0xffffffffu, 0x80000000u}) {
        Random::srand(seed);
        ReferenceGenerator reference{seed};
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(Random::rand(), reference.next()) << seed;
        EXPECT_EQ(Random::state(), reference.state);
    }
}

TEST(RandomSets, CloudMatchesItsDrawOrder) {
    std::vector<glm::vec3> cloud;
    Demo::buildRandomCloud(cloud, false);
    ASSERT_EQ(cloud.size(), kRandomSetSize);

    ReferenceGenerator reference{13886772};
    for (uint32_t i = 0; i < kRandomSetSize; ++i) {
        const int first = reference.next() % 2000;
        const int second = reference.next() % 2000;
        const int third = reference.next() % 2000;
        // x from the third draw, z from the first.
        const glm::vec3 expected(static_cast<float>(third / 1000.0 - 1.0),
                                 static_cast<float>(second / 1000.0 - 1.0),
                                 static_cast<float>(first / 1000.0 - 1.0));
        if (i < 8 || i + 1 == kRandomSetSize) {
            ASSERT_EQ(cloud[i], expected) << "point " << i;
        }
        ASSERT_LE(std::fabs(cloud[i].x), 1.0f);
        ASSERT_LE(std::fabs(cloud[i].y), 1.0f);
        ASSERT_LE(std::fabs(cloud[i].z), 1.0f);
    }
}

TEST(RandomSets, DirectionsAreUnitVectorsFromTwoAngles) {
    std::vector<glm::vec3> directions;
    Demo::buildRandomDirections(directions, false);
    ASSERT_EQ(directions.size(), kRandomSetSize);

    ReferenceGenerator reference{771};
    for (uint32_t i = 0; i < kRandomSetSize; ++i) {
        const float r1 = static_cast<float>(reference.next() % 360) * 0.017453292f;
        const float r2 = static_cast<float>(reference.next() % 360) * 0.017453292f;
        if (i < 8 || i + 1 == kRandomSetSize) {
            const glm::vec3 expected(std::cos(r1), std::sin(r1) * std::sin(r2),
                                     -std::sin(r1) * std::cos(r2));
            EXPECT_NEAR(directions[i].x, expected.x, 1e-6f) << "direction " << i;
            EXPECT_NEAR(directions[i].y, expected.y, 1e-6f) << "direction " << i;
            EXPECT_NEAR(directions[i].z, expected.z, 1e-6f) << "direction " << i;
        }
        ASSERT_NEAR(glm::length(directions[i]), 1.0f, 1e-5f) << "direction " << i;
    }
}

TEST(RandomSets, TakeFiveAndTwentyFiveProgressSteps) {
    std::vector<glm::vec3> set;
    progressResetForCounting();
    Demo::buildRandomCloud(set, true);
    EXPECT_EQ(progress().position, 5);
    progressResetForCounting();
    Demo::buildRandomDirections(set, true);
    EXPECT_EQ(progress().position, 25);
    progressResetForCounting();
    Demo::buildRandomCloud(set, false);
    EXPECT_EQ(progress().position, 0);
}

} // namespace
