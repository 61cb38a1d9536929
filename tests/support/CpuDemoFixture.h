#pragma once
// A Demo with only its random sets and shared particles filled, built once per suite: enough
// for every scene's CPU side, with no GL. Each test starts from a silent sync state.

#include <gtest/gtest.h>

#include "demo/Demo.h"

namespace testing_support {

class CpuDemoFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        demo_ = new Demo;
        Demo::buildRandomCloud(demo_->randomPoints, false);
        Demo::buildRandomDirections(demo_->randomDirections, false);
        demo_->sharedParticles.particles.assign(kSharedParticles, Particle{});
    }
    static void TearDownTestSuite() {
        delete demo_;
        demo_ = nullptr;
    }
    void SetUp() override {
        demo_->sync.pattern = 0;
        demo_->sync.trackLevels.fill(0.0f);
        demo_->sync.channelNotes.fill(0);
    }
    static inline Demo* demo_ = nullptr;
};

}  // namespace testing_support
