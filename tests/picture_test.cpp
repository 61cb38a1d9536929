// Pictures of the real show: frames rendered offscreen from the built content (demo.dat, with
// the real shaders, sprites, music sync data) and held against reference PNGs kept in
// tests/data/reference. A frame passes when no pixel is further than kPixelBound from its
// reference in any channel and the mean difference stays under kMeanBound. A failing frame is
// written beside a difference image in the build folder, and both are named in the failure.
//
// The references are made by the same test: LUMENFALL_UPDATE_REFERENCES=1 writes them
// instead of comparing. Make them again whenever the shaders, the content or a scene change.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo/Demo.h"
#include "loader/Loader.h"
#include "platform/OffscreenContext.h"
#include "platform/gl.h"
#include "program/Program.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"
#include "texture/Texture.h"

#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

using testing_support::CaptureBoxes;
using testing_support::ScopedChdir;

// Below 640 x 360 the linear filter without mipmaps cannot keep the thin strokes of the text
// sprites, so the references are taken at this size.
constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int32_t kMusicMs = 216000;

// Bounds on the difference to the reference, in 8-bit channel steps.
constexpr int kPixelBound = 48;
constexpr double kMeanBound = 1.5;

// Opaque RGB, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

Picture toRgb(const std::vector<uint8_t>& rgba, int width, int height) {
    Picture picture{width, height, {}};
    picture.rgb.reserve(rgba.size() / 4 * 3);
    for (size_t i = 0; i < rgba.size(); i += 4)
        picture.rgb.insert(picture.rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    return picture;
}

bool writePng(const std::filesystem::path& path, const Picture& picture) {
    std::filesystem::create_directories(path.parent_path());
    return stbi_write_png(path.string().c_str(), picture.width, picture.height, 3,
                          picture.rgb.data(), picture.width * 3) != 0;
}

bool readPng(const std::filesystem::path& path, Picture& picture) {
    int channels = 0;
    stbi_uc* data = stbi_load(path.string().c_str(), &picture.width, &picture.height, &channels, 3);
    if (data == nullptr)
        return false;
    picture.rgb.assign(data, data + static_cast<size_t>(picture.width) * picture.height * 3);
    stbi_image_free(data);
    return true;
}

struct Difference {
    int worst = 0; // largest channel difference of any pixel
    int worstX = 0, worstY = 0;
    size_t overBound = 0; // pixels with a channel further than kPixelBound
    double mean = 0.0;    // mean channel difference over the whole frame
    Picture image;        // the largest channel difference of each pixel, amplified
};

Difference compare(const Picture& rendered, const Picture& reference) {
    Difference difference;
    difference.image = Picture{rendered.width, rendered.height, {}};
    difference.image.rgb.resize(rendered.rgb.size());
    uint64_t sum = 0;
    const size_t pixels = rendered.rgb.size() / 3;
    for (size_t i = 0; i < pixels; ++i) {
        int largest = 0;
        for (size_t c = 0; c < 3; ++c) {
            const int d = std::abs(int(rendered.rgb[3 * i + c]) - int(reference.rgb[3 * i + c]));
            sum += static_cast<uint64_t>(d);
            largest = std::max(largest, d);
        }
        if (largest > kPixelBound)
            ++difference.overBound;
        if (largest > difference.worst) {
            difference.worst = largest;
            difference.worstX = static_cast<int>(i % rendered.width);
            difference.worstY = static_cast<int>(i / rendered.width);
        }
        // Small differences show dim red, those over the bound bright yellow.
        const auto shown = static_cast<uint8_t>(std::min(255, largest * 4));
        const uint8_t over = largest > kPixelBound ? 255 : 0;
        difference.image.rgb[3 * i] = std::max(shown, over);
        difference.image.rgb[3 * i + 1] = over;
        difference.image.rgb[3 * i + 2] = 0;
    }
    difference.mean = static_cast<double>(sum) / static_cast<double>(pixels * 3);
    return difference;
}

struct FrameStats {
    double meanLuminance = 0.0;  // 0..255
    double saturatedShare = 0.0; // pixels with a channel at 255
    double litShare = 0.0;       // pixels visibly above black
};

FrameStats measure(const Picture& picture) {
    FrameStats stats;
    const size_t pixels = picture.rgb.size() / 3;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* p = &picture.rgb[3 * i];
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

bool updatingReferences() {
    const char* value = std::getenv("LUMENFALL_UPDATE_REFERENCES");
    return value != nullptr && *value != '\0' && std::string(value) != "0";
}

// One Demo built from the real content for the whole suite; frames are drawn in music order,
// as the show draws them, because scenes 2 and 3 keep their camera shot between frames.
class Pictures : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        context_ = new OffscreenContext;
        if (!context_->create(kWidth, kHeight)) {
            setupError_ = "no offscreen context: " + context_->error();
            return;
        }
        const std::filesystem::path build(LUMENFALL_BINARY_DIR);
        if (!std::filesystem::exists(build / "demo.dat")) {
            setupError_ = "no built content in " + build.string() + " (build 'content')";
            return;
        }
        // Pictures of an earlier failing run would only mislead.
        std::filesystem::remove_all(outputFolder());
        CaptureBoxes boxes;
        ScopedChdir in(build.string());
        Loader::Open("demo.dat");
        progressResetForCounting();
        demo_ = new Demo;
        demo_->setScreenSize(kWidth, kHeight);
        if (!demo_->build(kMusicMs))
            setupError_ = "build failed: " + errorListText();
    }

    static void TearDownTestSuite() {
        delete demo_; // needs the context current
        demo_ = nullptr;
        Program::ClearCache();
        Texture::ClearCache();
        delete context_;
        context_ = nullptr;
        Loader::Close();
    }

    void SetUp() override {
        if (!setupError_.empty())
            FAIL() << setupError_;
    }

    static Picture render(uint32_t t) {
        demo_->drawFrame(t);
        glFinish();
        std::vector<uint8_t> rgba;
        context_->readPixels(rgba);
        return toRgb(rgba, kWidth, kHeight);
    }

    static std::filesystem::path outputFolder() {
        return std::filesystem::path(LUMENFALL_BINARY_DIR) / "picture-test";
    }

    static OffscreenContext* context_;
    static Demo* demo_;
    static std::string setupError_;
};
OffscreenContext* Pictures::context_ = nullptr;
Demo* Pictures::demo_ = nullptr;
std::string Pictures::setupError_;

// One frame per scene, each with its overlay where one plays: the title over the opening
// cloud is gone by 65 s, the credits run over it; the closing title sits over scene 5.
TEST_F(Pictures, EverySceneMatchesItsReference) {
    const struct {
        uint32_t t;
        const char* name;
    } frames[] = {
        {65500, "part01"},  {118000, "part02"}, {160000, "part03"},
        {185000, "part04"}, {213500, "part05"},
    };
    const std::filesystem::path references =
        std::filesystem::path(LUMENFALL_TEST_DATA) / "reference";
    for (const auto& frame : frames) {
        SCOPED_TRACE(frame.name);
        const Picture rendered = render(frame.t);
        ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        const std::filesystem::path referencePath = references / (std::string(frame.name) + ".png");
        if (updatingReferences()) {
            ASSERT_TRUE(writePng(referencePath, rendered)) << referencePath;
            std::printf("wrote %s\n", referencePath.string().c_str());
            continue;
        }

        const std::filesystem::path renderedPath =
            outputFolder() / (std::string(frame.name) + "-rendered.png");
        const std::filesystem::path differencePath =
            outputFolder() / (std::string(frame.name) + "-difference.png");
        Picture reference;
        if (!readPng(referencePath, reference)) {
            writePng(renderedPath, rendered);
            ADD_FAILURE() << "no reference " << referencePath << " (rendered: " << renderedPath
                          << "); LUMENFALL_UPDATE_REFERENCES=1 makes the references";
            continue;
        }
        if (reference.width != kWidth || reference.height != kHeight) {
            ADD_FAILURE() << referencePath << " is " << reference.width << " x " << reference.height
                          << ", not " << kWidth << " x " << kHeight;
            continue;
        }

        const Difference difference = compare(rendered, reference);
        if (difference.overBound == 0 && difference.mean <= kMeanBound)
            continue;
        writePng(renderedPath, rendered);
        writePng(differencePath, difference.image);
        std::ostringstream message;
        message << frame.name << " at " << frame.t << " ms differs from " << referencePath << ": "
                << difference.overBound << " pixels over " << kPixelBound << " (worst "
                << difference.worst << " at " << difference.worstX << ", " << difference.worstY
                << "), mean difference " << difference.mean << " (bound " << kMeanBound
                << "); rendered: " << renderedPath << ", difference: " << differencePath;
        ADD_FAILURE() << message.str();
    }
}

// The look on the real content, at a few moments of every scene, in music order: always
// something to see, never a white blow-out.
TEST_F(Pictures, EverySceneStaysLitWithoutBlowingOut) {
    const uint32_t times[] = {20000,  50000,  65500,  100000, 110000, 125000,
                              140000, 150000, 160000, 175000, 180000, 188000,
                              193000, 196000, 203000, 210000, 215000};
    for (const uint32_t t : times) {
        SCOPED_TRACE(t);
        const FrameStats stats = measure(render(t));
        EXPECT_GT(stats.meanLuminance, 1.5);
        EXPECT_LT(stats.meanLuminance, 60.0);
        EXPECT_GT(stats.litShare, 0.02);
        EXPECT_LT(stats.saturatedShare, 0.02);
    }
}

} // namespace
