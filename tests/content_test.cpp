// The show's built content as the show reads it: the flare, the fan mask, the sprite images
// and the four sprite animations from the assets folder, and the whole demo built from them
// on an offscreen context, which must take exactly the expected number of loading steps.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include "demo/Demo.h"
#include "ife/Ife.h"
#include "loader/Asset.h"
#include "loader/Loader.h"
#include "platform/OffscreenContext.h"
#include "platform/gl.h"
#include "program/Program.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"
#include "texture/Texture.h"

namespace {

using testing_support::CaptureBoxes;
using testing_support::ScopedChdir;
using testing_support::TempDir;

const std::string kAssets = std::string(LUMENFALL_BINARY_DIR) + "/assets";
const char* const kAnimations[] = {"overlay.ife", "racs.ife", "credits.ife", "vege.ife"};
constexpr size_t kTgaHeader = 18;

std::vector<uint8_t> asset(const std::string& name) {
    return testing_support::readFile(kAssets + "/" + name);
}

uint16_t le16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// One animation read with the show's own reader, plus what the checks need.
struct Animation {
    std::string name;
    std::vector<IfeSprite> sprites;
};

// Reads an animation through Asset and the Ife line helpers in folder mode; records a test
// failure for anything the show would read silently as 0, as an empty name or out of order.
Animation readAnimation(const std::string& name) {
    Animation animation{name, {}};
    ScopedChdir inBinaryDir(LUMENFALL_BINARY_DIR);
    Loader::Close();
    progressSetActive(false);
    Asset file;
    if (!file.Load(name)) {
        ADD_FAILURE() << name << " does not load";
        return animation;
    }
    const int32_t count = parseInt(readDataLine(file));
    readDataLine(file);
    EXPECT_GE(count, 1) << name;
    EXPECT_LE(count, 64) << name;
    for (int32_t s = 0; s < count && s < 64; ++s) {
        IfeSprite sprite;
        sprite.imageName = readDataLine(file);
        sprite.text2 = readDataLine(file);
        sprite.text3 = readDataLine(file);
        const int32_t keyCount = parseInt(readDataLine(file));
        sprite.blendMode = parseInt(readDataLine(file));
        EXPECT_GE(keyCount, 1) << name << " sprite " << s;
        for (int32_t k = 0; k < keyCount && k < 1000; ++k) {
            sprite.keys.push_back(parseKey(readDataLine(file)));
        }
        animation.sprites.push_back(sprite);
    }
    // Nothing but comments after the last block, and the whole text was consumed.
    const std::string rest = readDataLine(file);
    EXPECT_TRUE(rest.empty() || rest[0] == '#') << name << " has extra data: " << rest;
    EXPECT_GT(file.cursor, file.size) << name;
    return animation;
}

bool invisible(const IfeSprite& sprite, float t) {
    if (sprite.keys.empty()) {
        return true; // already reported by readAnimation
    }
    const IfeSpriteState s = sprite.stateAt(t);
    if (s.halfWidth <= 0.0f || s.halfHeight <= 0.0f) {
        return true;
    }
    const float eighthBit = 1.0f / 255.0f;
    if (sprite.blendMode == 1) { // additive: colour alone counts
        return s.red < eighthBit && s.green < eighthBit && s.blue < eighthBit;
    }
    return s.alpha < eighthBit;
}

TEST(ContentImages, FlareIsRoundSoftAndBlackAtItsRim) {
    const std::vector<uint8_t> tga = asset("envflare3.tga");
    ASSERT_GE(tga.size(), kTgaHeader);
    const int w = le16(tga, 12);
    const int h = le16(tga, 14);
    EXPECT_EQ(tga[0], 0); // no image ID
    EXPECT_EQ(tga[1], 0); // no colour map
    EXPECT_EQ(tga[2], 2); // uncompressed true colour
    EXPECT_EQ(tga[16], 24);
    ASSERT_EQ(w, h);
    ASSERT_GE(w, 32);
    ASSERT_EQ(tga.size(), kTgaHeader + static_cast<size_t>(w) * h * 3);
    auto pixel = [&](int x, int y, int c) { return tga[kTgaHeader + (y * w + x) * 3 + c]; };

    const double centre = w / 2.0;
    int outsideLit = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(pixel(x, y, 0), pixel(x, y, 1)); // neutral: particles set the hue
            EXPECT_EQ(pixel(x, y, 1), pixel(x, y, 2));
            // Everything beyond the inscribed circle, the border and corners included, is 0.
            const double r = std::hypot(x + 0.5 - centre, y + 0.5 - centre);
            if (r >= centre - 1.0 && pixel(x, y, 0) != 0) {
                ++outsideLit;
            }
        }
    }
    EXPECT_EQ(outsideLit, 0);
    EXPECT_GE(pixel(w / 2, h / 2, 0), 240);
    // Falls off smoothly: never rises going outwards along the middle row.
    for (int x = w / 2; x + 1 < w; ++x) {
        EXPECT_GE(pixel(x, h / 2, 0), pixel(x + 1, h / 2, 0)) << "x = " << x;
    }
    // A soft body, not a hard disc: half-way out it is well below the core.
    EXPECT_LT(pixel(w / 2 + w / 4, h / 2, 0), 128);
    EXPECT_GT(pixel(w / 2 + w / 4, h / 2, 0), 8);
}

TEST(ContentImages, FanMaskHasTheLayoutTheSecondSceneReads) {
    const std::vector<uint8_t> tga = asset("ventillator.tga");
    constexpr int kSide = 256;
    ASSERT_EQ(tga.size(), kTgaHeader + kSide * kSide);
    EXPECT_EQ(tga[0], 0);
    EXPECT_EQ(tga[1], 0);
    EXPECT_EQ(tga[2], 3); // uncompressed greyscale
    EXPECT_EQ(le16(tga, 12), kSide);
    EXPECT_EQ(le16(tga, 14), kSide);
    EXPECT_EQ(tga[16], 8);
    auto pixel = [&](int row, int column) { return tga[kTgaHeader + row * kSide + column]; };

    // Points that leave the grid are looked up at row or column 255: they must be dropped.
    for (int i = 0; i < kSide; ++i) {
        EXPECT_EQ(pixel(255, i), 255) << "column " << i;
        EXPECT_EQ(pixel(i, 255), 255) << "row " << i;
    }
    EXPECT_EQ(pixel(0, 0), 255);
    EXPECT_EQ(pixel(128, 128 + 20), 0); // the hub keeps its particles at full brightness

    int black = 0;
    int kept = 0;
    for (size_t i = kTgaHeader; i < tga.size(); ++i) {
        black += tga[i] == 0;
        kept += tga[i] != 255;
    }
    const double blackShare = static_cast<double>(black) / (kSide * kSide);
    const double keptShare = static_cast<double>(kept) / (kSide * kSide);
    EXPECT_GT(blackShare, 0.12);
    EXPECT_LT(blackShare, 0.45);
    EXPECT_LT(keptShare, 0.6) << "too few white pixels for a shape to read";
}

TEST(ContentAnimations, ReadCleanlyWithTheShowsReader) {
    for (const char* name : kAnimations) {
        SCOPED_TRACE(name);
        // CR LF everywhere: a lone LF would not end a line, a lone CR would leave an LF behind.
        const std::vector<uint8_t> bytes = asset(name);
        ASSERT_GE(bytes.size(), 2u);
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\n') {
                ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "lone LF at byte " << i;
            }
            if (bytes[i] == '\r') {
                ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "lone CR at " << i;
            }
        }
        EXPECT_EQ(bytes[bytes.size() - 1], '\n');

        const Animation animation = readAnimation(name);
        for (const IfeSprite& sprite : animation.sprites) {
            SCOPED_TRACE(sprite.imageName);
            // Mode 0 would switch blending off for the rest of the run.
            EXPECT_TRUE(sprite.blendMode == 1 || sprite.blendMode == 2);
            EXPECT_FALSE(testing_support::readFile(kAssets + "/" + sprite.imageName).empty());
            for (size_t k = 0; k < sprite.keys.size(); ++k) {
                const IfeKey& key = sprite.keys[k];
                EXPECT_TRUE(key.easing >= 0 && key.easing <= 2) << "key " << k;
                EXPECT_LT(key.time, 0x80000000u) << "negative key time, key " << k;
                EXPECT_GE(key.width, 0.0f);
                EXPECT_GE(key.height, 0.0f);
                if (k > 0) {
                    // Equal neighbours would divide 0 by 0 at exactly that time.
                    EXPECT_GT(key.time, sprite.keys[k - 1].time) << "key " << k;
                }
            }
        }
    }
}

TEST(ContentAnimations, SpriteImagesAreRgbaWithClearBorders) {
    std::set<std::string> checked;
    for (const char* name : kAnimations) {
        for (const IfeSprite& sprite : readAnimation(name).sprites) {
            if (sprite.imageName == "envflare3.tga" || !checked.insert(sprite.imageName).second) {
                continue;
            }
            SCOPED_TRACE(sprite.imageName);
            const std::vector<uint8_t> bytes = asset(sprite.imageName);
            int w = 0, h = 0, channels = 0;
            stbi_uc* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                                    &w, &h, &channels, 0);
            ASSERT_NE(pixels, nullptr) << stbi_failure_reason();
            EXPECT_EQ(channels, 4);
            // The texture is clamped and filtered: a sprite not stretched over the whole
            // screen must not touch its edges, or it would show a hard rectangle.
            const bool fullScreen = !sprite.keys.empty() && sprite.keys.front().width >= 1280.0f &&
                                    sprite.keys.front().height >= 720.0f;
            int edgeInk = 0;
            for (int y = 0; y < h && channels == 4 && !fullScreen; ++y) {
                for (int x = 0; x < w; ++x) {
                    const bool edge = x < 2 || y < 2 || x >= w - 2 || y >= h - 2;
                    edgeInk += edge && pixels[(y * w + x) * 4 + 3] != 0;
                }
            }
            EXPECT_EQ(edgeInk, 0);
            stbi_image_free(pixels);
        }
    }
}

TEST(ContentAnimations, SpriteTextureLoadsTakeSeventySteps) {
    // Loading takes 342 steps; everything but the sprites' texture loads takes 272. A texture
    // load costs 6 steps for a name not yet in the texture cache and 5 for one that is.
    // The particle sets load the flare anyway, so a sprite using it costs 5 wherever it is.
    std::set<std::string> seen{"envflare3.tga"};
    int steps = 0;
    size_t sprites = 0;
    for (const char* name : kAnimations) {
        for (const IfeSprite& sprite : readAnimation(name).sprites) {
            steps += seen.insert(sprite.imageName).second ? 6 : 5;
            ++sprites;
        }
    }
    EXPECT_EQ(steps, 70) << sprites << " sprites, " << seen.size() - 1 << " distinct images";
}

TEST(ContentAnimations, NothingPopsInOrOut) {
    // Times, in each animation's own unit, at which it must show nothing: the credits before
    // their pattern (their clock runs negative from the start of the music) and at the end of
    // the first scene, the overlay at the start and just before it stops at 216000 ms, the
    // closing title when the last scene starts drawing it.
    struct Case {
        const char* name;
        std::vector<float> times;
    };
    const Case cases[] = {
        {"overlay.ife", {0.0f, 1000.0f / 220.0f, 215999.0f / 220.0f}},
        {"credits.ife", {-61089.0f / 43.635f, -1.0f, 0.0f, 1000.0f, 45816.0f / 43.635f}},
        {"vege.ife", {1.0f / 8.727f, 5.0f}},
    };
    for (const Case& c : cases) {
        for (const IfeSprite& sprite : readAnimation(c.name).sprites) {
            for (float t : c.times) {
                EXPECT_TRUE(invisible(sprite, t))
                    << c.name << " " << sprite.imageName << " at time " << t;
            }
        }
    }
}

TEST(ContentTool, OutputIsByteIdenticalToTheBuiltAssets) {
    // A fresh run must reproduce every file the build made: nothing may depend on the clock,
    // on memory contents or on the run.
    TempDir fresh;
    const std::string command = std::string(LUMENFALL_IMAGEGEN) + " --content " +
                                LUMENFALL_SOURCE_DIR + "/content --out " + fresh.path() +
                                " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(fresh.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(testing_support::readFile(entry.path().string()), asset(name)) << name;
        ++files;
    }
    EXPECT_GE(files, 6u); // flare, mask, four animations, and the sprite images
}

TEST(ContentDemo, RealContentLoadsInExactlyTheExpectedSteps) {
    OffscreenContext context;
    ASSERT_TRUE(context.create(320, 180)) << context.error();
    CaptureBoxes boxes;
    ScopedChdir inBinaryDir(LUMENFALL_BINARY_DIR);
    Loader::Close();
    Program::ClearCache();
    Texture::ClearCache();
    {
        Demo demo;
        demo.setScreenSize(320, 180);
        progressResetForCounting();
        const bool built = demo.build(216000);
        progressSetActive(false);
        EXPECT_TRUE(built);
        EXPECT_EQ(progress().position, kProgressTotal);
        EXPECT_TRUE(errorList().empty()) << errorListText();
        EXPECT_TRUE(boxes.boxes().empty());
        // The title, the credits, a cut, the closing title: every sprite draws without error.
        if (built) {
            for (uint32_t ms : {16000u, 75000u, 106905u, 213000u, 215999u}) {
                demo.drawFrame(ms);
                EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << ms << " ms";
            }
        }
    }
    Program::ClearCache();
    Texture::ClearCache();
}

} // namespace
