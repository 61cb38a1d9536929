// The scenes' CPU sides: counts, layouts, the mask lookup, the strands and the splines.

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/CpuDemoFixture.h"
#include "camera/Camera.h"
#include "demo/Demo.h"
#include "loader/Loader.h"
#include "parts/Part01.h"
#include "parts/Part02.h"
#include "parts/Part03.h"
#include "parts/Part04.h"
#include "parts/Part05.h"
#include "parts/Spline.h"
#include "progress/Progress.h"
#include "random/Random.h"
#include "report/Errors.h"
#include "support/TestSupport.h"

namespace {

using testing_support::CaptureBoxes;
using testing_support::ScopedChdir;
using testing_support::TempDir;
using testing_support::writeFile;

using SceneCpu = testing_support::CpuDemoFixture;

// ---- Part01

TEST(Part01Count, FollowsTimeThenPattern) {
    const struct {
        uint32_t t;
        int32_t pattern;
        uint32_t count;
    } cases[] = {
        {0, 0, 0},         {2, 0, 0},         {3, 0, 1},           {30000, 3, 10000},
        {33000, 3, 11000}, {33001, 3, 11000}, {104723, 11, 11000}, {104724, 12, 11000},
        {106900, 12, 120}, {106905, 12, 95}, // the end of the window
        {106925, 13, 0},   {200000, 20, 0},  // past the window: never below zero
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Part01::countAt(c.t, c.pattern), c.count) << "t = " << c.t;
    }
}

TEST_F(SceneCpu, Part01SilentTrackOneBlacksOutTheEarlyPatterns) {
    Part01 part(demo_);
    ASSERT_TRUE(part.fillParticles());
    ASSERT_EQ(part.particleSet.particles.size(), 20000u);
    EXPECT_EQ(part.particleSet.particles[7].x, demo_->randomPoints[7].x);
    EXPECT_EQ(part.particleSet.particles[7].r, 0.0f);

    for (int32_t pattern = 0; pattern < 4; ++pattern) {
        demo_->sync.pattern = pattern;
        part.updateColors(20000, 6666);
        for (uint32_t i = 0; i < 6666; ++i) {
            const Particle& p = part.particleSet.particles[i];
            ASSERT_EQ(p.r + p.g + p.b, 0.0f) << "pattern " << pattern << " particle " << i;
            ASSERT_EQ(p.a, 1.0f);
        }
    }
}

TEST_F(SceneCpu, Part01PulseIsASineOfTimeWithBlueAt221Percent) {
    Part01 part(demo_);
    ASSERT_TRUE(part.fillParticles());
    demo_->sync.pattern = 6;
    const uint32_t t = 60000;
    part.updateColors(t, 11000);
    const std::vector<glm::vec3>& points = demo_->randomPoints;
    for (uint32_t i = 0; i < 11000; ++i) {
        const Particle& p = part.particleSet.particles[i];
        const double expected =
            std::fabs(std::sin(points[404 + i].x * 60000.0 * 0.0122 + points[808 + i].y));
        ASSERT_NEAR(p.r, expected, 2e-3) << i; // float rounding of a large argument
        ASSERT_EQ(p.g, p.r);
        ASSERT_FLOAT_EQ(p.b, p.r * 2.21f);
    }
    // Beyond the count nothing was written.
    EXPECT_EQ(part.particleSet.particles[11000].a, 0.0f);

    // In the first patterns track 1 scales the pulse by four times its level.
    demo_->sync.pattern = 1;
    demo_->sync.trackLevels[1] = 0.25f;
    part.updateColors(t, 11000);
    for (uint32_t i = 0; i < 100; ++i) {
        const double expected =
            std::fabs(std::sin(points[404 + i].x * 60000.0 * 0.0122 + points[808 + i].y));
        ASSERT_NEAR(part.particleSet.particles[i].r, expected, 2e-3) << i;
    }
}

// ---- Part02

std::vector<uint8_t> maskFile(const std::function<uint8_t(uint32_t column, uint32_t row)>& pixel,
                              size_t pixelBytes = kMaskSide * kMaskSide) {
    std::vector<uint8_t> bytes(kMaskHeaderBytes, 0);
    bytes[2] = 3; // uncompressed greyscale
    bytes[12] = 0;
    bytes[13] = 1; // 256 wide
    bytes[14] = 0;
    bytes[15] = 1; // 256 high
    bytes[16] = 8;
    for (size_t j = 0; j < pixelBytes; ++j) {
        bytes.push_back(
            pixel(static_cast<uint32_t>(j % kMaskSide), static_cast<uint32_t>(j / kMaskSide)));
    }
    return bytes;
}

class Part02Mask : public SceneCpu {
protected:
    void SetUp() override {
        SceneCpu::SetUp();
        Loader::Close();
        mkdir(dir_.file("assets").c_str(), 0755);
    }
    void writeMask(const std::vector<uint8_t>& bytes) {
        writeFile(dir_.file("assets/ventillator.tga"), bytes);
    }
    // A Part02 with its particles and mask ready, as init leaves them.
    std::unique_ptr<Part02> ready(const std::vector<uint8_t>& mask) {
        writeMask(mask);
        ScopedChdir in(dir_.path());
        auto part = std::make_unique<Part02>(demo_);
        EXPECT_TRUE(part->fillParticles());
        EXPECT_TRUE(part->loadMask());
        part->particleGroups.reset(new int32_t[part->particleCount]);
        for (uint32_t j = 0; j < part->particleCount; ++j)
            part->particleGroups[j] = j & 15;
        return part;
    }
    TempDir dir_;
};

TEST(Part02Wrap, KeepsTheSign) {
    const struct {
        float c, wrapped;
    } cases[] = {{-1.25f, -0.25f}, {1.25f, 0.25f}, {0.5f, 0.5f}, {-0.5f, -0.5f},
                 {2.0f, 0.0f},     {-3.0f, 0.0f},  {1.0f, 0.0f}, {0.0f, 0.0f}};
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(Part02::wrap(c.c), c.wrapped) << c.c;
}

TEST(Part02MaskIndex, OffTheGridSamplesTheLastColumnOrRow) {
    const struct {
        float rx, rz;
        uint32_t column, row;
    } cases[] = {
        {-1.0f, -1.0f, 0, 0},     {0.0f, 0.0f, 128, 128},
        {0.99f, -0.99f, 254, 1},  {1.0f, 0.0f, 255, 128},  // exactly on the far edge
        {0.0f, 1.0f, 128, 255},   {1.5f, -1.5f, 255, 255}, // off the grid on both sides
        {-1.005f, 0.0f, 0, 128},  // truncation toward zero still lands on column 0
        {-1.01f, 0.0f, 255, 128}, // one whole cell below: negative, so the last column
        {0.0f, -2.0f, 128, 255},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Part02::maskIndex(c.rx, c.rz), kMaskHeaderBytes + c.row * kMaskSide + c.column)
            << c.rx << ", " << c.rz;
    }
}

TEST_F(Part02Mask, MaskFileMustHoldAWholeImage) {
    const struct {
        size_t pixelBytes;
        bool exists;
        bool loads;
        const char* message;
    } cases[] = {
        {kMaskSide * kMaskSide, true, true, nullptr},
        {kMaskSide * kMaskSide + 26, true, true, nullptr}, // a TGA footer is fine
        {kMaskSide * kMaskSide - 1, true, false, "Mask size error : ventillator.tga"},
        {0, true, false, "Mask size error : ventillator.tga"},
        {0, false, false, "Load error : ventillator.tga"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pixelBytes);
        std::remove(dir_.file("assets/ventillator.tga").c_str());
        if (c.exists)
            writeMask(maskFile([](uint32_t, uint32_t) { return 0; }, c.pixelBytes));
        CaptureBoxes boxes;
        ScopedChdir in(dir_.path());
        Part02 part(demo_);
        EXPECT_EQ(part.loadMask(), c.loads);
        EXPECT_EQ(part.maskFileName, "ventillator.tga");
        if (c.message) {
            ASSERT_FALSE(errorList().empty());
            EXPECT_EQ(errorList().back(), c.message);
            EXPECT_EQ(part.updateParticles(120000), 0u); // no mask: nothing drawn, nothing read
        } else {
            EXPECT_TRUE(errorList().empty());
            EXPECT_EQ(part.maskFileSize, kMaskHeaderBytes + c.pixelBytes);
        }
    }
}

TEST_F(Part02Mask, DensityRunsFromBlackOneToWhiteZero) {
    auto part =
        ready(maskFile([](uint32_t column, uint32_t) { return static_cast<uint8_t>(column); }));
    EXPECT_FLOAT_EQ(part->densityMask[kMaskHeaderBytes + 0], 1.0f);
    EXPECT_FLOAT_EQ(part->densityMask[kMaskHeaderBytes + 255], 0.0f);
    EXPECT_FLOAT_EQ(part->densityMask[kMaskHeaderBytes + 51], (255.0f - 51.0f) / 255.0f);
}

TEST_F(Part02Mask, BlackKeepsEveryParticleWhiteKeepsNone) {
    auto black = ready(maskFile([](uint32_t, uint32_t) { return 0; }));
    demo_->sync.channelNotes[2] = 5;
    EXPECT_EQ(black->updateParticles(120000), 40000u);
    for (uint32_t i = 0; i < 40000; ++i) {
        const Particle& p = black->particleSet.particles[i];
        ASSERT_EQ(p.b, 1.0f);
        ASSERT_EQ(p.a, (i & 15) == 5 ? 2.0f : 1.0f) << i; // the highlighted sixteenth
        ASSERT_LT(std::fabs(p.x), 1.0f);
        ASSERT_LT(std::fabs(p.y), 1.0f);
        ASSERT_LT(std::fabs(p.z), 1.0f);
        // Colours r and g stay as the random cloud gave them.
        ASSERT_EQ(p.r, demo_->randomPoints[404 + i].x);
    }

    auto white = ready(maskFile([](uint32_t, uint32_t) { return 255; }));
    EXPECT_EQ(white->updateParticles(120000), 0u);
}

TEST_F(Part02Mask, KeptParticlesArePackedAtTheFrontInOrder) {
    // At t = 0 with a silent track 2 there is no drift and no swirl: the mask is read at (x, z).
    auto part = ready(maskFile([](uint32_t column, uint32_t) { return column < 128 ? 255 : 0; }));
    const uint32_t kept = part->updateParticles(0);
    std::vector<glm::vec3> expected;
    for (uint32_t i = 0; i < 40000; ++i) {
        const glm::vec3& p = demo_->randomPoints[i];
        const float x = Part02::wrap(p.x);
        if (std::trunc((x + 1.0f) * 128.0f) >= 128.0f) {
            expected.emplace_back(x, Part02::wrap(p.y), Part02::wrap(p.z));
        }
    }
    ASSERT_EQ(kept, expected.size());
    ASSERT_GT(kept, 15000u);
    ASSERT_LT(kept, 25000u);
    for (uint32_t n = 0; n < kept; ++n) {
        const Particle& p = part->particleSet.particles[n];
        ASSERT_EQ(glm::vec3(p.x, p.y, p.z), expected[n]) << n;
    }
}

TEST_F(Part02Mask, SilentTrackSwirlsEveryParticleByTimeOverSix) {
    // At 540 ms the swirl is 90 degrees about Y: x' = z, so a mask white on its left half keeps
    // the particles whose wrapped z is positive.
    auto part = ready(maskFile([](uint32_t column, uint32_t) { return column < 128 ? 255 : 0; }));
    const uint32_t kept = part->updateParticles(540);
    uint32_t expected = 0;
    const float drift = 540.0f / 4000.0f;
    for (uint32_t i = 0; i < 40000; ++i) {
        const float z =
            Part02::wrap(demo_->randomPoints[i].z + drift * demo_->randomDirections[i].z);
        if (z >= 0.0f)
            ++expected;
    }
    EXPECT_NEAR(static_cast<double>(kept), static_cast<double>(expected), 40.0);
}

// ---- Spline

TEST(Spline, NeedsTwoControlPoints) {
    Spline spline;
    EXPECT_FALSE(spline.build());
    // One point, filled in place: GCC's Release build otherwise warns falsely that the
    // initializer list's element may be used uninitialized.
    spline.points.assign(1, glm::vec3(1.0f, 1.0f, 1.0f));
    EXPECT_FALSE(spline.build());
    EXPECT_TRUE(spline.tangents.empty());
    EXPECT_EQ(spline.evaluate(0.5f), glm::vec3(1.0f));
    spline.points.emplace_back(2.0f);
    EXPECT_TRUE(spline.build());
    EXPECT_EQ(spline.tangents.size(), 2u);
}

TEST(Spline, PassesThroughItsControlPointsAndClampsOutside) {
    Spline spline;
    spline.points = {glm::vec3(0, 0, 3), glm::vec3(1, 2, 2), glm::vec3(4, -1, 1),
                     glm::vec3(2, 2, 0)};
    ASSERT_TRUE(spline.build());
    EXPECT_EQ(spline.tangents[0], (spline.points[1] - spline.points[0]) / 6.0f);
    EXPECT_EQ(spline.tangents[2], (spline.points[3] - spline.points[1]) / 6.0f);
    const struct {
        float s;
        int point;
    } cases[] = {{-5.0f, 0}, {0.0f, 0}, {1.0f, 1},  {2.0f, 2},
                 {3.0f, 3},  {3.5f, 3}, {99.0f, 3}, {std::nanf(""), 0}};
    for (const auto& c : cases) {
        const glm::vec3 got = spline.evaluate(c.s);
        const glm::vec3& want = spline.points[c.point];
        EXPECT_NEAR(got.x, want.x, 1e-6f) << c.s;
        EXPECT_NEAR(got.y, want.y, 1e-6f) << c.s;
        EXPECT_NEAR(got.z, want.z, 1e-6f) << c.s;
    }
}

TEST(Spline, SegmentsAreBeziersOneTangentFromTheEnds) {
    // Evenly spaced points on a line: tangents 1/6, 1/3, 1/3, 1/6, so the first segment's
    // inner controls sit at 1/6 and 2/3 and its middle at 1/16 + 1/4 + 1/8 = 0.4375.
    Spline spline;
    spline.points = {glm::vec3(0, 0, 0), glm::vec3(1, 0, 0), glm::vec3(2, 0, 0),
                     glm::vec3(3, 0, 0)};
    ASSERT_TRUE(spline.build());
    EXPECT_NEAR(spline.evaluate(0.5f).x, 0.4375f, 1e-6f);
    EXPECT_NEAR(spline.evaluate(1.5f).x, 1.5f, 1e-6f);
    EXPECT_NEAR(spline.evaluate(2.5f).x, 3.0f - 0.4375f, 1e-6f);
}

// ---- Part03

TEST_F(SceneCpu, Part03StrandsFallFromThreeToZero) {
    Random::srand(12345);
    uint64_t reference = 12345;
    for (int i = 0; i < 80000; ++i)
        reference = (reference * 214013u + 2531011u) % 4294967296ull;

    progressResetForCounting();
    Part03 part(demo_);
    part.buildStrands(true);
    EXPECT_EQ(progress().position, 8);
    EXPECT_EQ(Random::state(), reference); // two draws per strand, continuing the sequence

    ASSERT_EQ(part.strands.size(), Part03::kStrandCount);
    for (const Spline& strand : part.strands) {
        ASSERT_EQ(strand.points.size(), 4u);
        ASSERT_EQ(strand.tangents.size(), 4u);
        ASSERT_EQ(strand.points[0].z, 3.0f);
        ASSERT_EQ(strand.points[3].z, 0.0f);
        const glm::vec3& a = strand.points[1];
        ASSERT_LE(std::sqrt(a.x * a.x + a.y * a.y), 0.8f);
        ASSERT_GE(a.z, 0.0f);
        // s1 in [1, 1.5), s2 in [1.5, 2.25).
        const float s1 = strand.points[2].z / a.z;
        ASSERT_GE(s1, 0.999f);
        ASSERT_LT(s1, 1.5f);
    }
    EXPECT_EQ(part.colorRamp.points.size(), 4u);
    EXPECT_EQ(part.colorRamp.evaluate(3.5f), glm::vec3(0.0f));
}

TEST_F(SceneCpu, Part03ParticlesStartAtTheirPhaseAndCarryTheWeight) {
    Part03 part(demo_);
    part.buildStrands(false);
    std::vector<Particle> out(Part03::kStrandCount);
    part.updateParticles(0, out.data());
    for (uint32_t k = 0; k < Part03::kStrandCount; k += 97) {
        const float x = std::fabs(demo_->randomPoints[k].x);
        const float s = (x - std::trunc(x)) * 4.0f;
        const glm::vec3 want = part.strands[k].evaluate(s);
        ASSERT_NEAR(out[k].x, want.x, 1e-5f) << k;
        ASSERT_NEAR(out[k].z, want.z, 1e-5f) << k;
        ASSERT_FLOAT_EQ(out[k].w, 0.0056f);
        ASSERT_GE(out[k].z, -0.5f);
        ASSERT_LE(out[k].z, 3.5f);
    }
    demo_->sync.trackLevels[2] = 1.0f;
    part.updateParticles(150000, out.data());
    EXPECT_FLOAT_EQ(out[0].w, (1.0150001f + 1.0f) * 0.0056f);
    // Colour follows the ramp scaled per channel; alpha is never written.
    for (const Particle& p : out) {
        ASSERT_GE(p.r, -0.2f);
        ASSERT_LE(p.b, 1.1f * 1.5f);
        ASSERT_EQ(p.a, 0.0f);
    }
}

TEST_F(SceneCpu, Part03ShotsDriftWithTimeThenFreeze) {
    Part03 part(demo_);
    part.chooseShot(17, 150000);
    EXPECT_FLOAT_EQ(part.camera.rotationX, 47.0f + 15.0f);
    EXPECT_FLOAT_EQ(part.camera.rotationZ, 3.0f + 750.0f);
    part.chooseShot(19, 170000);
    EXPECT_FLOAT_EQ(part.camera.rotationZ, -0.0145f * 170000.0f);
    part.chooseShot(21, 180000);
    EXPECT_FLOAT_EQ(part.camera.rotationZ, -0.0145f * 170000.0f);
}

// ---- Part04

TEST_F(SceneCpu, Part04TentaclesCarryDirectionAndPlace) {
    Part04 part(demo_);
    ASSERT_TRUE(part.fillTentacles());
    ASSERT_EQ(part.tentacleSet.particles.size(), 40000u);
    for (uint32_t i = 0; i < 40000; ++i) {
        const Particle& p = part.tentacleSet.particles[i];
        const glm::vec3& d = demo_->randomDirections[i / 250];
        ASSERT_EQ(glm::vec3(p.x, p.y, p.z), d) << i;
        // The place is the fraction of a single-precision quotient up to 160.
        ASSERT_NEAR(p.w, static_cast<float>(i % 250) / 250.0f, 2e-5f) << i;
        ASSERT_EQ(p.r, 0.1f);
        ASSERT_EQ(p.g, 0.15f);
        ASSERT_EQ(p.b, 0.2f);
        ASSERT_EQ(p.a, 1.0f);
    }
    EXPECT_NEAR(part.tentacleSet.particles[1].w, 0.004f, 1e-7f);
    EXPECT_NEAR(part.tentacleSet.particles[249].w, 0.996f, 1e-6f);

    ASSERT_TRUE(part.fillCloud());
    const Particle& c = part.cloudSet.particles[9999];
    EXPECT_FLOAT_EQ(c.x, 25.0f * demo_->randomPoints[9999].x);
    EXPECT_FLOAT_EQ(c.g, 0.15f * demo_->randomDirections[9999].x);
}

TEST(Part04Speed, GrowsWithTheCubeOfProgress) {
    const struct {
        uint32_t t;
        float e, speed;
    } cases[] = {
        {176721, 0.00001f, 0.2f}, // e = 0 becomes 0.00001
        {185448, 0.5f, 0.825f},
        {194175, 1.0f, 5.2f},
        {176000, -721.0f / 17454.0f, 5.0f * std::pow(-721.0f / 17454.0f, 3.0f) + 0.2f},
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT_EQ(Part04::progressAt(c.t), c.e) << c.t;
        EXPECT_NEAR(Part04::tentacleSpeed(c.t), c.speed, 1e-6f) << c.t;
    }
}

// ---- Part05

TEST(Part05Count, GrowsFourPerMillisecondUpTo35000) {
    const struct {
        uint32_t t;
        uint32_t disc, sphere;
    } cases[] = {
        {194176, 4, 1},        {194177, 8, 2},        {194425, 1000, 250},
        {202924, 34996, 8749}, {202925, 35000, 8750}, {216000, 35000, 8750},
    };
    for (const auto& c : cases) {
        const uint32_t disc = Part05::cloudCountAt(c.t);
        EXPECT_EQ(disc, c.disc) << c.t;
        EXPECT_EQ(disc / 4, c.sphere) << c.t;
    }
    EXPECT_NEAR(Part05::cloudGrowthAt(216000), 0.3118f, 1e-4f);
    EXPECT_EQ(Part05::cloudGrowthAt(194175), 0.0f);
}

TEST_F(SceneCpu, Part05DiscIsThinAndSphereIsUnit) {
    Part05 part(demo_);
    ASSERT_TRUE(part.fillDisc(35000));
    ASSERT_TRUE(part.fillSphere(35000));
    ASSERT_TRUE(part.fillBackground());
    ASSERT_EQ(part.discSet.particles.size(), 35000u);
    ASSERT_EQ(part.sphereSet.particles.size(), 8750u);
    ASSERT_EQ(part.backgroundSet.particles.size(), 10000u);
    float widest = 0.0f;
    for (const Particle& p : part.discSet.particles) {
        ASSERT_LE(std::fabs(p.x), 0.04f);
        ASSERT_LE(std::fabs(p.y), 2.0f);
        widest = std::max(widest, std::fabs(p.y));
        ASSERT_EQ(p.r, 0.1f);
        ASSERT_GE(p.a, 0.0f);
    }
    EXPECT_GT(widest, 1.5f);
    for (const Particle& p : part.sphereSet.particles) {
        ASSERT_NEAR(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z), 1.0f, 1e-5f);
        ASSERT_GE(p.r, 0.0f);
    }
    // A cloud count past the random sets' end is refused rather than read past.
    EXPECT_FALSE(part.fillDisc(kRandomSetSize));
}

TEST(Scenes, NamesAndEmptyWindowsAfterConstruction) {
    Part01 a(nullptr);
    Part02 b(nullptr);
    Part03 c(nullptr);
    Part04 d(nullptr);
    Part05 e(nullptr);
    const Part* parts[] = {&a, &b, &c, &d, &e};
    const char* names[] = {"Part 01", "Part 02", "Part 03", "Part 04", "Part 05"};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(parts[k]->name, names[k]);
        EXPECT_EQ(parts[k]->startMs, 0u);
        EXPECT_EQ(parts[k]->endMs, 0u);
        EXPECT_EQ(parts[k]->drawCount, 0u);
    }
    EXPECT_EQ(a.particleCount, 20000u);
    EXPECT_EQ(b.particleCount, 40000u);
    // Without a Demo's random sets the CPU halves refuse instead of reading nothing.
    EXPECT_FALSE(a.fillParticles());
    EXPECT_FALSE(b.fillParticles());
    EXPECT_FALSE(c.fillCloud());
    EXPECT_FALSE(d.fillTentacles());
    EXPECT_FALSE(e.fillBackground());
}

} // namespace
