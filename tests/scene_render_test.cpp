// One frame per scene, rendered offscreen through Demo::drawFrame from a small asset folder
// the suite writes itself (the real particle shaders, a soft flare, a disc mask, empty sprite
// animations and pulsing sync tracks). Frames are saved as PNGs for a look.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo/Demo.h"
#include "loader/Loader.h"
#include "parts/Part.h"
#include "parts/Part02.h"
#include "platform/OffscreenContext.h"
#include "platform/gl.h"
#include "program/Program.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"
#include "texture/Texture.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

using testing_support::CaptureBoxes;
using testing_support::ScopedChdir;
using testing_support::TempDir;
using testing_support::writeFile;

constexpr int kWidth = 320;
constexpr int kHeight = 180;
constexpr int32_t kMusicMs = 216000;

std::vector<uint8_t> tgaHeader(uint8_t type, int width, int height, uint8_t bits) {
    std::vector<uint8_t> header(18, 0);
    header[2] = type;
    header[12] = static_cast<uint8_t>(width & 255);
    header[13] = static_cast<uint8_t>(width >> 8);
    header[14] = static_cast<uint8_t>(height & 255);
    header[15] = static_cast<uint8_t>(height >> 8);
    header[16] = bits;
    return header;
}

// A soft round flare: 64 x 64, 24-bit, bright centre falling to black at the rim.
std::vector<uint8_t> flareTga() {
    std::vector<uint8_t> bytes = tgaHeader(2, 64, 64, 24);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const float r = std::hypot(x - 31.5f, y - 31.5f) / 32.0f;
            const float falloff = std::max(0.0f, 1.0f - r);
            const auto v = static_cast<uint8_t>(255.0f * falloff * falloff);
            bytes.insert(bytes.end(), {v, v, v});
        }
    }
    return bytes;
}

// 256 x 256 greyscale: a black ring (kept) on white (dropped).
std::vector<uint8_t> maskTga() {
    std::vector<uint8_t> bytes = tgaHeader(3, 256, 256, 8);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const float r = std::hypot(x - 127.5f, y - 127.5f);
            bytes.push_back(r < 110.0f && r > 30.0f ? 0 : 255);
        }
    }
    return bytes;
}

// A level track with a beat: a pulse every 500 ms decaying over the next 200.
std::vector<uint8_t> rmsTrack(int phase) {
    std::vector<uint8_t> bytes;
    for (int k = 0; k < 21600; ++k) {
        const double level = 0.15 + 0.6 * std::exp(-((k + phase) % 50) / 20.0);
        const auto sample = static_cast<uint16_t>(level * 65535.0);
        bytes.push_back(static_cast<uint8_t>(sample & 255));
        bytes.push_back(static_cast<uint8_t>(sample >> 8));
    }
    return bytes;
}

// Kind-1 notes on channel 2 every 176 ticks (about one second), cycling through 0..15.
std::vector<uint8_t> musicMsd() {
    std::vector<uint8_t> bytes;
    for (uint32_t n = 0; n < 220; ++n) {
        const uint32_t tick = n * 176;
        bytes.insert(bytes.end(),
                     {static_cast<uint8_t>(tick), static_cast<uint8_t>(tick >> 8),
                      static_cast<uint8_t>(tick >> 16), 0, 1, 2, static_cast<uint8_t>(n % 16), 0});
    }
    return bytes;
}

struct FrameStats {
    double meanLuminance = 0.0;  // 0..255
    double saturatedShare = 0.0; // pixels with a channel at 255
    double litShare = 0.0;       // pixels brighter than black
};

FrameStats measure(const std::vector<uint8_t>& rgba) {
    FrameStats stats;
    const size_t pixels = rgba.size() / 4;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* p = &rgba[4 * i];
        stats.meanLuminance += 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
        if (p[0] == 255 || p[1] == 255 || p[2] == 255)
            stats.saturatedShare += 1.0;
        if (p[0] + p[1] + p[2] > 6)
            stats.litShare += 1.0;
    }
    stats.meanLuminance /= static_cast<double>(pixels);
    stats.saturatedShare /= static_cast<double>(pixels);
    stats.litShare /= static_cast<double>(pixels);
    return stats;
}

class SceneRender : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        context_ = new OffscreenContext;
        if (!context_->create(kWidth, kHeight)) {
            setupError_ = "no offscreen context: " + context_->error();
            return;
        }
        Loader::Close();
        dir_ = new TempDir;
        const std::string assets = dir_->file("assets");
        std::filesystem::create_directories(assets);
        const std::filesystem::path shaders =
            std::filesystem::path(LUMENFALL_SOURCE_DIR) / "content/shaders";
        for (const char* name :
             {"ife.glsl", "particle.glsl", "particlePart01.glsl", "particlePart02.glsl",
              "particlePart03.glsl", "particlePart04.glsl", "particlePart051.glsl",
              "particlePart052.glsl"}) {
            std::filesystem::copy_file(shaders / name, std::filesystem::path(assets) / name);
        }
        writeFile(assets + "/envflare3.tga", flareTga());
        writeFile(assets + "/ventillator.tga", maskTga());
        for (const char* name : {"overlay.ife", "racs.ife", "credits.ife", "vege.ife"}) {
            writeFile(assets + "/" + name, std::string("0\r\n0\r\n"));
        }
        writeFile(assets + "/music.msd", musicMsd());
        for (int track = 0; track < 5; ++track) {
            writeFile(assets + "/0" + std::to_string(track + 1) + ".rms", rmsTrack(track * 7));
        }

        CaptureBoxes boxes;
        ScopedChdir in(dir_->path());
        progressResetForCounting();
        demo_ = new Demo;
        demo_->setScreenSize(kWidth, kHeight);
        if (!demo_->build(kMusicMs)) {
            setupError_ = "build failed: " + errorListText();
            return;
        }
        steps_ = progress().position;
    }

    static void TearDownTestSuite() {
        delete demo_; // needs the context current
        demo_ = nullptr;
        Program::ClearCache();
        Texture::ClearCache();
        delete context_;
        context_ = nullptr;
        delete dir_;
        dir_ = nullptr;
        Loader::Close();
    }

    void SetUp() override {
        if (!setupError_.empty())
            FAIL() << setupError_;
    }

    static std::vector<uint8_t> render(uint32_t t) {
        demo_->drawFrame(t);
        glFinish();
        std::vector<uint8_t> rgba;
        context_->readPixels(rgba);
        return rgba;
    }

    // Saved opaque: the frame's alpha is whatever the additive passes summed up.
    static void save(std::vector<uint8_t> rgba, uint32_t t, const std::string& name) {
        const std::filesystem::path folder =
            std::filesystem::path(LUMENFALL_BINARY_DIR) / "scene-renders";
        std::filesystem::create_directories(folder);
        for (size_t i = 3; i < rgba.size(); i += 4)
            rgba[i] = 255;
        const std::string path = (folder / (name + "-" + std::to_string(t) + ".png")).string();
        stbi_write_png(path.c_str(), kWidth, kHeight, 4, rgba.data(), kWidth * 4);
    }

    static OffscreenContext* context_;
    static TempDir* dir_;
    static Demo* demo_;
    static std::string setupError_;
    static int steps_;
};
OffscreenContext* SceneRender::context_ = nullptr;
TempDir* SceneRender::dir_ = nullptr;
Demo* SceneRender::demo_ = nullptr;
std::string SceneRender::setupError_;
int SceneRender::steps_ = 0;

TEST_F(SceneRender, BuildListsFiveScenesAndTakesItsSteps) {
    ASSERT_EQ(demo_->timeline.scenes.size(), 5u);
    EXPECT_EQ(demo_->timeline.scenes[4]->endMs, static_cast<uint32_t>(kMusicMs));
    EXPECT_EQ(demo_->sharedParticles.particles.size(), kSharedParticles);
    // A matching asset set takes 342 steps, 70 of them its sprites' texture loads; these
    // animations have no sprites, so everything else is left: random sets 30, scene inits 5,
    // Part02 1, Part03 9 and the loaders' own.
    EXPECT_EQ(steps_, kProgressTotal - 70);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SceneRender, EverySceneDrawsAVisibleStableFrame) {
    const struct {
        uint32_t t;
        const char* name;
        double minMean, maxMean;
    } cases[] = {
        {60000, "part01", 2.0, 120.0},  {120000, "part02", 2.0, 120.0},
        {160000, "part03", 2.0, 120.0}, {185000, "part04", 2.0, 120.0},
        {208000, "part05", 2.0, 120.0},
    };
    for (size_t k = 0; k < 5; ++k) {
        const auto& c = cases[k];
        SCOPED_TRACE(c.name);
        Part* scene = demo_->timeline.scenes[k];
        ASSERT_EQ(demo_->timeline.sceneAt(c.t), scene);
        const uint32_t drawsBefore = scene->drawCount;

        const std::vector<uint8_t> first = render(c.t);
        save(first, c.t, c.name);
        const std::vector<uint8_t> second = render(c.t);
        EXPECT_EQ(scene->drawCount, drawsBefore + 2);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

        const FrameStats stats = measure(first);
        std::printf("%s t=%u mean %.1f lit %.3f saturated %.4f\n", c.name, c.t, stats.meanLuminance,
                    stats.litShare, stats.saturatedShare);
        EXPECT_GT(stats.meanLuminance, c.minMean);
        EXPECT_LT(stats.meanLuminance, c.maxMean);
        EXPECT_GT(stats.litShare, 0.03);
        EXPECT_LT(stats.saturatedShare, 0.03);
        EXPECT_TRUE(first == second) << "the same music time must give the same picture";
    }
}

TEST_F(SceneRender, AfterTheMusicOnlyBlackRemains) {
    const std::vector<uint8_t> frame = render(kMusicMs + 1);
    EXPECT_EQ(demo_->timeline.sceneAt(kMusicMs + 1), nullptr);
    const FrameStats stats = measure(frame);
    EXPECT_EQ(stats.litShare, 0.0);
}

TEST_F(SceneRender, Part02WithNothingKeptDrawsNothing) {
    // A mask that is white everywhere keeps no particle: nothing may be drawn, not the whole
    // vector with its stale positions.
    auto* part02 = static_cast<Part02*>(demo_->timeline.scenes[1]);
    ASSERT_EQ(part02->name, "Part 02");
    const uint32_t size = part02->maskFileSize;
    std::vector<float> saved(part02->densityMask.get(), part02->densityMask.get() + size);
    std::fill(part02->densityMask.get(), part02->densityMask.get() + size, 0.0f);
    render(120000); // leaves the earlier frames' particles in the vector
    const FrameStats stats = measure(render(120100));
    std::copy(saved.begin(), saved.end(), part02->densityMask.get());
    EXPECT_EQ(stats.litShare, 0.0);
}

} // namespace
