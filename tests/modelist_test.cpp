// The setup dialog's mode list: which modes are offered, in which order and text, and which
// mode a selected line stands for.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/ModeList.h"

namespace {

VideoMode rgb888(int width, int height, int hz) { return {width, height, 8, 8, 8, hz}; }
VideoMode rgb565(int width, int height, int hz) { return {width, height, 5, 6, 5, hz}; }

// Ascending by depth, then area, then refresh rate, as GLFW hands them over.
const std::vector<VideoMode> kMonitor = {
    rgb565(640, 480, 60),  rgb565(1920, 1080, 60), rgb888(640, 480, 60),
    rgb888(1280, 720, 50), rgb888(1280, 720, 60),  {1600, 900, 8, 8, 7, 60},
    rgb888(1920, 1080, 60), {2560, 1440, 10, 10, 10, 60},
};

}  // namespace

TEST(ModeList, ListsOnlyEightBitModesLargestFirst) {
    const ModeList list = buildModeList(kMonitor.data(), static_cast<int>(kMonitor.size()));

    // 5-6-5, 8-8-7 and 10-10-10 modes are left out; the two 1280 x 720 rates give two lines.
    const std::vector<std::string> expected = {
        "1920 x 1080 60 Hz", "1280 x 720 60 Hz", "1280 x 720 50 Hz", "640 x 480 60 Hz"};
    EXPECT_EQ(list.lines, expected);
    // Walk positions from the back: element 6 is i = 1, element 4 is i = 3, ...
    EXPECT_EQ(list.indices, (std::vector<int>{1, 3, 4, 5}));
}

TEST(ModeList, EveryLineMapsBackToTheModeItShows) {
    const int count = static_cast<int>(kMonitor.size());
    const ModeList list = buildModeList(kMonitor.data(), count);
    ASSERT_EQ(list.lines.size(), list.indices.size());

    for (size_t line = 0; line < list.lines.size(); ++line) {
        VideoMode mode{};
        ASSERT_TRUE(modeForLine(list, static_cast<int>(line), kMonitor.data(), count, mode));
        char text[64];
        std::snprintf(text, sizeof text, "%d x %d %d Hz", mode.width, mode.height,
                      mode.refreshRate);
        EXPECT_EQ(list.lines[line], text) << "line " << line;
        EXPECT_EQ(mode.redBits + mode.greenBits + mode.blueBits, 24);
    }

    // Two rates of one size give the same window size.
    VideoMode at60{}, at50{};
    ASSERT_TRUE(modeForLine(list, 1, kMonitor.data(), count, at60));
    ASSERT_TRUE(modeForLine(list, 2, kMonitor.data(), count, at50));
    EXPECT_EQ(at60.width, at50.width);
    EXPECT_EQ(at60.height, at50.height);
    EXPECT_NE(at60.refreshRate, at50.refreshRate);
}

TEST(ModeList, NoLineNoModeWithoutAnEightBitMode) {
    const std::vector<VideoMode> only565 = {rgb565(640, 480, 60), rgb565(800, 600, 75)};
    const ModeList list = buildModeList(only565.data(), 2);
    EXPECT_TRUE(list.lines.empty());
    EXPECT_TRUE(list.indices.empty());

    // "start" with nothing selected must find no mode and leave the output alone.
    VideoMode mode{1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(modeForLine(list, 0, only565.data(), 2, mode));
    EXPECT_FALSE(modeForLine(list, -1, only565.data(), 2, mode));
    EXPECT_EQ(mode.width, 1);

    EXPECT_TRUE(buildModeList(nullptr, 0).lines.empty());
    EXPECT_TRUE(buildModeList(only565.data(), -3).lines.empty());
}

TEST(ModeList, SelectionOutsideTheListIsRefused) {
    const int count = static_cast<int>(kMonitor.size());
    const ModeList list = buildModeList(kMonitor.data(), count);
    VideoMode mode{};
    EXPECT_FALSE(modeForLine(list, -1, kMonitor.data(), count, mode));
    EXPECT_FALSE(modeForLine(list, 4, kMonitor.data(), count, mode));
    // A list built for a longer array must not index past a shorter one.
    EXPECT_FALSE(modeForLine(list, 3, kMonitor.data(), 3, mode));
    EXPECT_FALSE(modeForLine(list, 0, nullptr, count, mode));
}
