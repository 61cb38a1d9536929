// The capture program's command line and frame clock (no GL needed).

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "CaptureOptions.h"
#include "ProgressMeter.h"

namespace {

ParseResult parse(std::vector<const char*> args, CaptureOptions& options, std::string& error) {
    args.insert(args.begin(), "lumenfall-capture");
    const ParsedOptions parsed = parseCaptureOptions(static_cast<int>(args.size()), args.data());
    options = parsed.options;
    error = parsed.error;
    return parsed.result;
}

} // namespace

TEST(CaptureClock, FrameTimesTruncateFromTheStart) {
    struct Case {
        uint32_t startMs;
        uint64_t frame;
        int fps;
        uint32_t expected;
    };
    const Case cases[] = {
        {0, 0, 30, 0},
        {0, 1, 30, 33},
        {0, 2, 30, 66},
        {0, 3, 30, 100},
        {0, 6479, 30, 215966},
        {0, 1, 60, 16},
        {0, 2, 60, 33},
        {0, 59, 60, 983},
        {0, 60, 60, 1000},
        {0, 1, 24, 41},
        {0, 5, 24, 208},
        {0, 24, 24, 1000},
        // frames count from the start time, so the pattern of truncation repeats from there
        {1500, 1, 30, 1533},
        {1500, 3, 30, 1600},
        {106905, 1, 24, 106946},
        // no overflow for long runs: k * 1000 is done in 64 bits
        {0, 4294967ull * 60, 60, 4294967000u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(frameTimeMs(c.startMs, c.frame, c.fps), c.expected)
            << "start " << c.startMs << " frame " << c.frame << " fps " << c.fps;
    }
}

TEST(CaptureClock, FrameCountCoversTheRangeAndNoMore) {
    EXPECT_EQ(frameCount(0, 2000, 30), 60u);
    EXPECT_EQ(frameCount(0, 2000, 24), 48u);
    EXPECT_EQ(frameCount(0, 1001, 30), 31u); // frame 30 is at 1000 ms, still inside
    EXPECT_EQ(frameCount(0, 1000, 30), 30u); // 1000 itself is excluded
    EXPECT_EQ(frameCount(5000, 5000, 30), 0u);
    EXPECT_EQ(frameCount(5000, 4000, 30), 0u);
    EXPECT_EQ(frameCount(0, 216000, 30), 6480u);
    // Every counted frame lies before the end and the next one does not.
    for (int fps : {24, 25, 30, 60, 7}) {
        for (uint32_t end : {1u, 33u, 34u, 999u, 1000u, 12345u}) {
            const uint64_t n = frameCount(100, 100 + end, fps);
            ASSERT_GT(n, 0u);
            EXPECT_LT(frameTimeMs(100, n - 1, fps), 100 + end) << fps << " " << end;
            EXPECT_GE(frameTimeMs(100, n, fps), 100 + end) << fps << " " << end;
        }
    }
}

TEST(CaptureClock, WarmUpKeepsTheLastFrameOfEachPatternInTheScene) {
    // A scene from 1000 ms to 5000 ms, patterns of one second; t = 3500 in pattern 3.
    const auto inScene = [](uint32_t x) { return x >= 1000 && x <= 5000; };
    const auto patternOf = [](uint32_t x) { return static_cast<int32_t>(x / 1000); };
    EXPECT_EQ(warmUpTimes(3500, 10, 1000, inScene, patternOf),
              (std::vector<uint32_t>{1900, 2900, 3400}));
    // At 30 fps the grid runs from time 0, not from the scene's start.
    EXPECT_EQ(warmUpTimes(2500, 30, 1000, inScene, patternOf), (std::vector<uint32_t>{1966, 2466}));
    // The first frame of the scene needs nothing.
    EXPECT_TRUE(warmUpTimes(1000, 30, 1000, inScene, patternOf).empty());
    // A shared boundary time belongs to the earlier scene and is skipped.
    const auto afterStart = [](uint32_t x) { return x > 1000 && x <= 5000; };
    EXPECT_EQ(warmUpTimes(1200, 10, 1000, afterStart, patternOf), (std::vector<uint32_t>{1100}));
}

TEST(CaptureOptions, DefaultsAndGoodValues) {
    CaptureOptions options;
    std::string error;
    ASSERT_EQ(parse({}, options, error), ParseResult::Run);
    EXPECT_EQ(options.width, 1280);
    EXPECT_EQ(options.height, 720);
    EXPECT_EQ(options.fps, 30);
    EXPECT_EQ(options.startMs, 0u);
    EXPECT_FALSE(options.hasEnd);
    EXPECT_EQ(options.output, "lumenfall.mp4");
    EXPECT_EQ(options.mode(), CaptureMode::Video);

    ASSERT_EQ(parse({"--size", "320x180", "--fps", "60", "--start", "12.5", "--end=14.0005",
                     "--output", "clip.mkv"},
                    options, error),
              ParseResult::Run)
        << error;
    EXPECT_EQ(options.width, 320);
    EXPECT_EQ(options.height, 180);
    EXPECT_EQ(options.fps, 60);
    EXPECT_EQ(options.startMs, 12500u);
    EXPECT_TRUE(options.hasEnd);
    EXPECT_EQ(options.endMs, 14001u); // rounded to the nearest millisecond
    EXPECT_EQ(options.output, "clip.mkv");

    ASSERT_EQ(parse({"--png", "out", "--size", "321x181", "--start", ".25"}, options, error),
              ParseResult::Run)
        << error;
    EXPECT_EQ(options.mode(), CaptureMode::PngSequence);
    EXPECT_EQ(options.startMs, 250u); // odd sizes are fine for pictures

    ASSERT_EQ(
        parse({"--at", "141808", "--at", "5", "--at=141808", "--fps", "24", "--data", "show/build"},
              options, error),
        ParseResult::Run)
        << error;
    EXPECT_EQ(options.mode(), CaptureMode::SingleFrames);
    EXPECT_EQ(options.atTimes, (std::vector<uint32_t>{5, 141808}));
    EXPECT_EQ(options.dataDir, "show/build");

    EXPECT_FALSE(options.portable);
    EXPECT_EQ(options.renderer, CaptureRenderer::Auto);
    ASSERT_EQ(parse({"--plain", "--portable", "--end", "3"}, options, error), ParseResult::Run)
        << error;
    EXPECT_TRUE(options.plain);
    EXPECT_TRUE(options.portable);
    EXPECT_EQ(options.renderer, CaptureRenderer::Software); // portable draws in software
    ASSERT_EQ(parse({"--native", "--renderer=gpu"}, options, error), ParseResult::Run) << error;
    EXPECT_FALSE(options.portable); // --native: the default, still accepted
    EXPECT_EQ(options.renderer, CaptureRenderer::Gpu);
    ASSERT_EQ(parse({"--renderer", "software", "--portable"}, options, error), ParseResult::Run);
    EXPECT_TRUE(options.portable);

    EXPECT_EQ(parse({"--fps", "30", "--help"}, options, error), ParseResult::Help);
    EXPECT_EQ(parse({"-h"}, options, error), ParseResult::Help);
    EXPECT_EQ(parse({"--size", "3x3", "--version"}, options, error), ParseResult::Version);
}

TEST(CaptureOptions, BadValuesAreRefusedWithAMessage) {
    const std::vector<std::vector<const char*>> bad = {
        {"--size", "1280"},
        {"--size", "1280x"},
        {"--size", "0x720"},
        {"--size", "-1280x720"},
        {"--size", "1280x720x3"},
        {"--size", "9000x720"},
        {"--size", "1281x720"}, // odd width for a video
        {"--fps", "0"},
        {"--fps", "241"},
        {"--fps", "29.97"},
        {"--fps", "abc"},
        {"--fps", ""},
        {"--fps"},
        {"--start", "-1"},
        {"--start", "1e3"},
        {"--start", "."},
        {"--start", "nan"},
        {"--start", "5000000"},
        {"--end", "1,5"},
        {"--start", "10", "--end", "10"},
        {"--start", "10", "--end", "9"},
        {"--output", ""},
        {"--png", ""},
        {"--at", "-5"},
        {"--at", "4294967296"},
        {"--at", "1.5"},
        {"--at", "10", "--start", "1"},
        {"--at", "10", "--output", "x.mp4"},
        {"--png", "d", "--output", "x.mp4"},
        {"--frames", "3"},
        {"--data", ""},
        {"--data"},
        {"--renderer", "cpu"},
        {"--renderer"},
        {"--portable", "--renderer", "gpu"},
        {"--renderer", "auto", "--portable"},
        {"--portable", "--native"},
        {"extra"},
        {"-x"},
    };
    for (const auto& args : bad) {
        CaptureOptions options;
        std::string error;
        std::string joined;
        for (const char* arg : args) {
            joined += std::string(arg) + " ";
        }
        EXPECT_EQ(parse(args, options, error), ParseResult::Error) << joined;
        EXPECT_FALSE(error.empty()) << joined;
    }
}

TEST(CaptureOptions, FileNamesSortInTimeOrder) {
    EXPECT_EQ(sequenceFrameName(0), "frame_000000.png");
    EXPECT_EQ(sequenceFrameName(6479), "frame_006479.png");
    EXPECT_EQ(singleFrameName(5), "at_000005.png");
    EXPECT_EQ(singleFrameName(141808), "at_141808.png");
    EXPECT_LT(singleFrameName(99999), singleFrameName(100000));
}

TEST(CaptureProgress, TimeLeftWeighsTheFramesAheadByTheirCost) {
    // Two cheap frames, then two costing four times as much.
    const ProgressMeter meter({1.0, 1.0, 4.0, 4.0}, false);
    struct Case {
        uint64_t done;
        double elapsed;
        double left;
    };
    const Case cases[] = {
        {1, 1.0, 9.0},  // one cost unit a second; 9 units ahead
        {2, 1.0, 4.0},  // twice as fast
        {3, 6.0, 4.0},  // 6 units in 6 s, 4 ahead
        {4, 10.0, 0.0}, // done
        {0, 1.0, -1.0}, // nothing measured yet
        {5, 1.0, -1.0}, // past the end
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(meter.secondsLeft(c.done, c.elapsed), c.left) << c.done;
    }
    EXPECT_NE(ProgressMeter::format(2, 4, 2.0, 4.0).find("0:04 left"), std::string::npos);
    EXPECT_NE(ProgressMeter::format(0, 4, 0.0, -1.0).find("--:-- left"), std::string::npos);
}
