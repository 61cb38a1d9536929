#include "ife/Ife.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

#include <stb/stb_image_write.h>

#include "gpu_fixture.h"

namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;

std::string crlf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

class IfeTest : public GpuTest {
protected:
    IfeTest() : GpuTest(kScreenWidth, kScreenHeight) {}

    void SetUp() override {
        GpuTest::SetUp();
        copyShader("ife.glsl");
        const std::vector<uint8_t> white(4 * 4, 255);
        ASSERT_NE(stbi_write_png(dir_.file("assets/white.png").c_str(), 2, 2, 4, white.data(), 8),
                  0);
    }

    std::vector<uint8_t> render(Ife& ife, float time) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        ife.time = time;
        ife.draw();
        std::vector<uint8_t> rgba = pixels();
        if (const char* folder = std::getenv("LUMENFALL_TEST_PNG_DIR")) {
            context_.savePng(std::string(folder) + "/" +
                             testing::UnitTest::GetInstance()->current_test_info()->name() +
                             ".png");
        }
        return rgba;
    }
};

} // namespace

TEST_F(IfeTest, SpriteCoversExactlyItsVirtualRectangle) {
    writeAsset("one.ife", crlf({"1", "0", "white.png", "", "", "1", "2",
                                "0 640 360 0 0 100 50 255 255 255 255"}));
    Ife ife;
    ASSERT_TRUE(ife.load("one.ife")) << testing::PrintToString(errorList());
    glEnable(GL_BLEND);
    const std::vector<uint8_t> rgba = render(ife, 0.0f);
    int wrong = 0;
    for (int y = 0; y < kScreenHeight; ++y) {
        for (int x = 0; x < kScreenWidth; ++x) {
            const bool inside = x >= 590 && x < 690 && y >= 335 && y < 385;
            const uint8_t* p = pixelAt(rgba, kScreenWidth, kScreenHeight, x, y);
            const bool white = p[0] == 255 && p[1] == 255 && p[2] == 255;
            const bool black = p[0] == 0 && p[1] == 0 && p[2] == 0;
            if (inside ? !white : !black) {
                ++wrong;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(IfeTest, SpriteMovesAndTintsBetweenKeys) {
    // Half-way between x = 100 and 300 and from black to full red.
    writeAsset("move.ife",
               crlf({"1", "0", "white.png", "", "", "2", "2", "0 100 360 0 0 20 20 0 0 0 255",
                     "10 300 360 0 0 20 20 255 0 0 255"}));
    Ife ife;
    ASSERT_TRUE(ife.load("move.ife"));
    const std::vector<uint8_t> rgba = render(ife, 5.0f);
    const uint8_t* centre = pixelAt(rgba, kScreenWidth, kScreenHeight, 200, 360);
    EXPECT_NEAR(centre[0], 128, 1);
    EXPECT_EQ(centre[1], 0);
    EXPECT_EQ(pixelAt(rgba, kScreenWidth, kScreenHeight, 189, 360)[0], 0);
    EXPECT_GT(pixelAt(rgba, kScreenWidth, kScreenHeight, 190, 360)[0], 0);
    EXPECT_GT(pixelAt(rgba, kScreenWidth, kScreenHeight, 209, 360)[0], 0);
    EXPECT_EQ(pixelAt(rgba, kScreenWidth, kScreenHeight, 210, 360)[0], 0);
}

TEST_F(IfeTest, FirstImageRowIsTheTopOfTheSprite) {
    const uint8_t redOverBlue[] = {255, 0, 0, 255, 0, 0, 255, 255};
    ASSERT_NE(stbi_write_png(dir_.file("assets/flag.png").c_str(), 1, 2, 4, redOverBlue, 4), 0);
    writeAsset("flag.ife", crlf({"1", "0", "flag.png", "", "", "1", "2",
                                 "0 640 360 0 0 100 100 255 255 255 255"}));
    Ife ife;
    ASSERT_TRUE(ife.load("flag.ife"));
    const std::vector<uint8_t> rgba = render(ife, 0.0f);
    const uint8_t* top = pixelAt(rgba, kScreenWidth, kScreenHeight, 640, 400);
    const uint8_t* bottom = pixelAt(rgba, kScreenWidth, kScreenHeight, 640, 320);
    EXPECT_EQ(top[0], 255);
    EXPECT_EQ(top[2], 0);
    EXPECT_EQ(bottom[0], 0);
    EXPECT_EQ(bottom[2], 255);
}

TEST_F(IfeTest, ModeZeroSpriteLeavesBlendingOff) {
    writeAsset("modes.ife",
               crlf({"2", "0", "white.png", "", "", "1", "0", "0 100 100 0 0 10 10 255 255 255 255",
                     "white.png", "", "", "1", "1", "0 200 100 0 0 10 10 255 255 255 255"}));
    Ife ife;
    ASSERT_TRUE(ife.load("modes.ife"));
    glEnable(GL_BLEND);
    render(ife, 0.0f);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    // What draw leaves behind.
    GLint value = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &value);
    EXPECT_EQ(value, 0);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
}

TEST_F(IfeTest, ParsingFiles) {
    struct Case {
        const char* what;
        std::string text;
        bool loads;
        size_t sprites;
        std::vector<size_t> keyCounts;
        std::vector<std::string> errors;
    };
    const std::string key = "0 1 2 0 0 10 10 255 255 255 255";
    // An empty image name reaches the loader as "": no file, reported by every layer.
    const std::vector<std::string> emptyImage = {
        "Load error : ", "Image load error : ", "Texture load error : "};
    const std::vector<std::string> countError = {"Ife count error : test.ife"};
    // Two sprites with a million (empty) keys each are 88 MB of keys: over the 64 MB budget.
    std::string millionKeys = crlf({"1000000", "2"});
    for (int k = 0; k < 1000000; ++k) {
        millionKeys += "\r\n";
    }
    const Case cases[] = {
        {"comments anywhere",
         "# made by hand\r\n1\r\n#\r\n0\r\nwhite.png\r\n# text lines follow\r\nsecond\r\nthird\r\n"
         "1\r\n#mode\r\n2\r\n# key\r\n" +
             key + "\r\n",
         true,
         1,
         {1},
         {}},
        {"CR-only line ends",
         "1\r0\rwhite.png\r\r\r2\r1\r" + key + "\r" + key + "\r",
         true,
         1,
         {2},
         {}},
        {"an empty line takes the key count's place",
         crlf({"1", "0", "white.png", "", "", "", "1"}),
         true,
         1,
         {0},
         {}},
        {"zero sprites", crlf({"0", "0"}), true, 0, {}, {}},
        {"no number gives zero sprites", crlf({"many", "0"}), true, 0, {}, {}},
        {"LF-only file is one line",
         "1\n0\nwhite.png\n\n\n1\n2\n" + key + "\n",
         false,
         1,
         {},
         emptyImage},
        {"LF-only file with two sprites fails on the first image too",
         "2\n0\nwhite.png\n\n\n1\n2\n" + key + "\nwhite.png\n\n\n1\n2\n" + key + "\n",
         false,
         1,
         {},
         emptyImage},
        {"fewer sprites than counted",
         crlf({"2", "0", "white.png", "", "", "1", "2", key}),
         false,
         2,
         {1},
         emptyImage},
        {"missing key lines read as zero keys",
         crlf({"1", "0", "white.png", "", "", "3", "2", key}),
         true,
         1,
         {3},
         {}},
        {"far more keys than lines, within the budget",
         crlf({"1", "0", "white.png", "", "", "100000", "2", key}),
         true,
         1,
         {100000},
         {}},
        {"negative sprite count", crlf({"-1", "0"}), false, 0, {}, countError},
        {"absurd sprite count",
         crlf({"2000000000", "0", "white.png", "", "", "1", "2", key}),
         false,
         0,
         {},
         countError},
        {"negative key count",
         crlf({"1", "0", "white.png", "", "", "-5", "2", key}),
         false,
         1,
         {0},
         countError},
        {"absurd key count",
         crlf({"1", "0", "white.png", "", "", "1000000000", "2", key}),
         false,
         1,
         {0},
         countError},
        {"sprites and keys together over the budget",
         crlf({"2", "0", "white.png", "", ""}) + millionKeys + crlf({"white.png", "", ""}) +
             millionKeys,
         false,
         2,
         {1000000, 0},
         countError},
        {"missing image",
         crlf({"1", "0", "nothere.png", "", "", "1", "2", key}),
         false,
         1,
         {},
         {"Load error : nothere.png", "Image load error : nothere.png",
          "Texture load error : nothere.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clearErrorList();
        writeAsset("test.ife", c.text);
        Ife ife;
        EXPECT_EQ(ife.load("test.ife"), c.loads);
        EXPECT_EQ(ife.sprites.size(), c.sprites);
        for (size_t i = 0; i < c.keyCounts.size() && i < ife.sprites.size(); ++i) {
            EXPECT_EQ(ife.sprites[i].keys.size(), c.keyCounts[i]) << "sprite " << i;
        }
        EXPECT_EQ(errorList(), c.errors);
    }
}

TEST_F(IfeTest, FieldsOfASpriteBlock) {
    writeAsset("fields.ife",
               crlf({"1", "77", "white.png", " text two ", "# a comment between the text lines",
                     "text three", "1", "4", "-2 12.5 -3.25 1 90 64 32 1 2 3 4 trailing"}));
    Ife ife;
    ASSERT_TRUE(ife.load("fields.ife"));
    ASSERT_EQ(ife.sprites.size(), 1u);
    const IfeSprite& sprite = ife.sprites[0];
    EXPECT_EQ(sprite.imageName, "white.png");
    EXPECT_EQ(sprite.text2, " text two ");
    EXPECT_EQ(sprite.text3, "text three");
    EXPECT_EQ(sprite.blendMode, 4);
    EXPECT_NE(sprite.texture.id, 0u);
    ASSERT_EQ(sprite.keys.size(), 1u);
    const IfeKey& k = sprite.keys[0];
    EXPECT_EQ(k.time, 0xFFFFFFFEu);
    EXPECT_EQ(k.x, 12.5f);
    EXPECT_EQ(k.y, -3.25f);
    EXPECT_EQ(k.easing, 1);
    EXPECT_EQ(k.angle, 90.0f);
    EXPECT_EQ(k.alpha, 4.0f);
    EXPECT_GE(ife.colorLocation, 0);
    EXPECT_GE(ife.transformationLocation, 0);
    EXPECT_GE(ife.vertexLocation, 0);
}

TEST_F(IfeTest, SameKeysUnderAGermanLocale) {
    writeAsset("locale.ife", crlf({"1", "0", "white.png", "", "", "2", "2",
                                   "0 640.5 360.25 0 12.75 100.5 50.5 255 127.5 0.5 1",
                                   "10 1.5e2 -0.125 1 0 1 1 1 1 1 1"}));
    Ife reference;
    ASSERT_TRUE(reference.load("locale.ife"));
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the de_DE.UTF-8 locale is missing: run scripts/install-deps.sh";
    Ife german;
    const bool loaded = german.load("locale.ife");
    std::setlocale(LC_ALL, previous.c_str());
    ASSERT_TRUE(loaded);
    ASSERT_EQ(german.sprites.size(), 1u);
    const auto& a = reference.sprites[0].keys;
    const auto& b = german.sprites[0].keys;
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(IfeKey)), 0);
    EXPECT_EQ(b[0].x, 640.5f);
    EXPECT_EQ(b[1].x, 150.0f);
}

TEST_F(IfeTest, SpriteWithoutKeysIsSkipped) {
    writeAsset("empty.ife", crlf({"2", "0", "white.png", "", "", "0", "0", "white.png", "", "", "1",
                                  "1", "0 640 360 0 0 100 100 255 255 255 255"}));
    Ife ife;
    ASSERT_TRUE(ife.load("empty.ife"));
    glEnable(GL_BLEND);
    const std::vector<uint8_t> rgba = render(ife, 0.0f);
    // The keyless mode-0 sprite changed nothing: blending is still on, the second sprite drew.
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(pixelAt(rgba, kScreenWidth, kScreenHeight, 640, 360)[0], 255);
}

TEST_F(IfeTest, LoadSteps) {
    writeAsset("steps.ife",
               crlf({"2", "0", "white.png", "", "", "0", "0", "white.png", "", "", "0", "0"}));
    Ife ife;
    ASSERT_TRUE(ife.load("steps.ife"));
    // Program 20, the file 2, a new texture 6, the same texture again 5.
    EXPECT_EQ(steps(), 33);
}
