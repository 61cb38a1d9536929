#include "ife/Ife.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>

#include "loader/Asset.h"

namespace {

void fillAsset(Asset& asset, const std::string& text) {
    asset.size = static_cast<uint32_t>(text.size());
    asset.data = new uint8_t[text.size() + 1];
    std::memcpy(asset.data, text.data(), text.size());
    asset.cursor = 0;
}

IfeKey key(uint32_t time, float x, int32_t easing, float color = 255.0f) {
    IfeKey k{};
    k.time = time;
    k.x = x;
    k.y = x / 2;
    k.easing = easing;
    k.angle = x / 10;
    k.width = x;
    k.height = x;
    k.red = k.green = k.blue = k.alpha = color;
    return k;
}

IfeSprite spriteWithKeys(std::vector<IfeKey> keys) {
    IfeSprite sprite;
    sprite.keys = std::move(keys);
    return sprite;
}

// Restores the process locale when a test changes it.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) {
        previous_ = std::setlocale(LC_ALL, nullptr);
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string previous_;
    bool ok_ = false;
};

} // namespace

TEST(IfeParse, IntegerLines) {
    const std::pair<const char*, int32_t> cases[] = {
        {"3", 3},
        {"  -7 trailing text", -7},
        {"+12", 12},
        {"\t42\n", 42},
        {"", 0},
        {"abc", 0},
        {"- 5", 0},
        {"99999999999", std::numeric_limits<int32_t>::max()},
        {"-99999999999", std::numeric_limits<int32_t>::min()},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(parseInt(line), expected) << '"' << line << '"';
    }
}

TEST(IfeParse, KeyLines) {
    struct Case {
        const char* line;
        IfeKey expected;
    };
    const Case cases[] = {
        {"10 640 360.5 1 -45 100 50 255 128 64 32 extra",
         {10, 640.0f, 360.5f, 1, -45.0f, 100.0f, 50.0f, 255.0f, 128.0f, 64.0f, 32.0f}},
        {"   5\t1e2  -2.5 2 0 1 1 1 1 1 1", {5, 100.0f, -2.5f, 2, 0, 1, 1, 1, 1, 1, 1}},
        // Missing values read as 0.
        {"7 1 2", {7, 1.0f, 2.0f, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        // Parsing stops at the first value that is not a number.
        {"3 1,5 2 0 1 1 1 1 1 1 1", {3, 1.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"3 4 x 0 1 1 1 1 1 1 1", {3, 4.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        // The time is read signed and kept unsigned.
        {"-1 0 0 0 0 0 0 0 0 0 0", {0xFFFFFFFFu, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const IfeKey k = parseKey(c.line);
        EXPECT_EQ(k.time, c.expected.time);
        EXPECT_EQ(k.x, c.expected.x);
        EXPECT_EQ(k.y, c.expected.y);
        EXPECT_EQ(k.easing, c.expected.easing);
        EXPECT_EQ(k.angle, c.expected.angle);
        EXPECT_EQ(k.width, c.expected.width);
        EXPECT_EQ(k.height, c.expected.height);
        EXPECT_EQ(k.red, c.expected.red);
        EXPECT_EQ(k.green, c.expected.green);
        EXPECT_EQ(k.blue, c.expected.blue);
        EXPECT_EQ(k.alpha, c.expected.alpha);
    }
}

TEST(IfeParse, DecimalPointIgnoresTheProcessLocale) {
    const char* line = "20 640.5 360.25 0 12.75 100.5 50.5 255 127.5 0.5 1.25";
    const IfeKey reference = parseKey(line);
    ASSERT_EQ(reference.x, 640.5f);
    ScopedLocale german("de_DE.UTF-8");
    ASSERT_TRUE(german.ok()) << "the de_DE.UTF-8 locale is missing: run scripts/install-deps.sh";
    // In this locale the C library itself reads "640.5" as 640.
    ASSERT_EQ(std::strtof("640.5", nullptr), 640.0f);
    const IfeKey k = parseKey(line);
    EXPECT_EQ(std::memcmp(&k, &reference, sizeof k), 0);
    EXPECT_EQ(parseInt(" 1234 "), 1234);
}

TEST(IfeEase, Curves) {
    struct Case {
        int32_t kind;
        float u;
        float expected;
    };
    const Case cases[] = {
        {0, 0.0f, 100.0f}, {0, 0.5f, 200.0f},     {0, 1.0f, 300.0f}, {1, 0.5f, 241.42136f},
        {1, 1.0f, 300.0f}, {2, 0.5f, 158.57864f}, {2, 0.0f, 100.0f}, {2, 1.0f, 300.0f},
        {7, 0.5f, 0.0f},   {-1, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(ease(c.kind, 100.0f, 300.0f, c.u), c.expected, 1e-3f)
            << "kind " << c.kind << " u " << c.u;
    }
}

TEST(IfeSpriteState, KeyframePairsAndEasing) {
    struct Case {
        int32_t easing;
        float t;
        float x;
    };
    const Case cases[] = {
        {0, -3.0f, 100.0f}, {0, 0.0f, 100.0f},     {0, 5.0f, 200.0f},     {0, 10.0f, 300.0f},
        {0, 50.0f, 300.0f}, {1, 5.0f, 241.42136f}, {2, 5.0f, 158.57864f}, {7, 5.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "easing " << c.easing << " t " << c.t);
        const IfeSprite sprite = spriteWithKeys({key(0, 100.0f, c.easing), key(10, 300.0f, 0)});
        const IfeSpriteState state = sprite.stateAt(c.t);
        EXPECT_NEAR(state.x, c.x, 1e-3f);
    }
}

TEST(IfeSpriteState, EasingSevenCollapsesEveryProperty) {
    const IfeSprite sprite = spriteWithKeys({key(0, 100.0f, 7), key(10, 300.0f, 0)});
    const IfeSpriteState s = sprite.stateAt(5.0f);
    for (float value :
         {s.x, s.y, s.angle, s.halfWidth, s.halfHeight, s.red, s.green, s.blue, s.alpha}) {
        EXPECT_EQ(value, 0.0f);
    }
}

TEST(IfeSpriteState, TheEarlierKeysEasingIsUsed) {
    // The later key says ease-out, but the pair starts at a linear key.
    const IfeSprite sprite =
        spriteWithKeys({key(0, 100.0f, 0), key(10, 300.0f, 1), key(20, 500.0f, 0)});
    EXPECT_NEAR(sprite.stateAt(5.0f).x, 200.0f, 1e-3f);
    EXPECT_NEAR(sprite.stateAt(15.0f).x, 300.0f + 200.0f * 0.70710678f, 1e-3f);
}

TEST(IfeSpriteState, SizeAndColour) {
    const IfeSprite sprite = spriteWithKeys({key(0, 100.0f, 0, 255.0f)});
    const IfeSpriteState s = sprite.stateAt(0.0f);
    EXPECT_EQ(s.halfWidth, 50.0f);
    EXPECT_EQ(s.halfHeight, 50.0f);
    EXPECT_EQ(s.red, 1.0f);
    EXPECT_EQ(s.green, 1.0f);
    EXPECT_EQ(s.blue, 1.0f);
    EXPECT_EQ(s.alpha, 1.0f);
}

TEST(IfeSpriteState, KeysOfEqualTimeHoldInsteadOfDividingByZero) {
    const IfeSprite sprite = spriteWithKeys(
        {key(0, 100.0f, 0), key(10, 300.0f, 0), key(10, 700.0f, 0), key(20, 900.0f, 0)});
    const IfeSpriteState s = sprite.stateAt(10.0f);
    EXPECT_FALSE(std::isnan(s.x));
    // The last key at or before t is held.
    EXPECT_EQ(s.x, 700.0f);
    EXPECT_NEAR(sprite.stateAt(15.0f).x, 800.0f, 1e-3f);
    EXPECT_NEAR(sprite.stateAt(5.0f).x, 200.0f, 1e-3f);

    const IfeSprite single = spriteWithKeys({key(4, 10.0f, 0), key(4, 20.0f, 0)});
    for (float t : {0.0f, 4.0f, 9.0f}) {
        EXPECT_FALSE(std::isnan(single.stateAt(t).x)) << "t " << t;
    }
}

TEST(IfeReadDataLine, CommentsAreSkippedEmptyLinesAreNot) {
    Asset asset;
    fillAsset(asset, "# header\r\n2\r\n\r\n#note\r#more\r\nlast");
    EXPECT_EQ(readDataLine(asset), "2");
    EXPECT_EQ(readDataLine(asset), "");
    EXPECT_EQ(readDataLine(asset), "last");
    EXPECT_EQ(asset.cursor, asset.size + 1);
    // Past the end every further call is empty.
    EXPECT_EQ(readDataLine(asset), "");
    EXPECT_EQ(readDataLine(asset), "");
}

TEST(IfeReadDataLine, CommentAtTheEndIsWhatRemains) {
    Asset asset;
    fillAsset(asset, "1\r# trailing");
    EXPECT_EQ(readDataLine(asset), "1");
    EXPECT_EQ(readDataLine(asset), "# trailing");
}

TEST(IfeSpriteState, NoKeysGiveAnEmptyState) {
    const IfeSprite sprite;
    const IfeSpriteState s = sprite.stateAt(3.0f);
    EXPECT_EQ(s.halfWidth, 0.0f);
    EXPECT_EQ(s.alpha, 0.0f);
}
