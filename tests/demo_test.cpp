// The letterbox and the timeline walk, without GL.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo/Demo.h"
#include "demo/Timeline.h"
#include "parts/Part.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"

namespace {

struct LetterboxCase {
    int32_t width, height;
    Letterbox expected;
    int32_t screenWidth, screenHeight;
};

TEST(Demo, LetterboxIsTheLargestCentred16By9Rectangle) {
    const LetterboxCase cases[] = {
        {1920, 1080, {0, 0, 1920, 1080}, 1920, 1080},
        {1920, 1200, {0, 60, 1920, 1080}, 1920, 1020},
        {2560, 1080, {320, 0, 1920, 1080}, 1600, 1080},
        {1024, 768, {0, 96, 1024, 576}, 1024, 480},
        {640, 480, {0, 60, 640, 360}, 640, 300},
        {800, 400, {48, 0, 704, 400}, 656, 400},
        {3440, 1440, {440, 0, 2560, 1440}, 2120, 1440},
        {1366, 768, {3, 1, 1360, 765}, 1357, 764},
    };
    for (const LetterboxCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const Letterbox box = computeLetterbox(c.width, c.height);
        EXPECT_EQ(box.x, c.expected.x);
        EXPECT_EQ(box.y, c.expected.y);
        EXPECT_EQ(box.width, c.expected.width);
        EXPECT_EQ(box.height, c.expected.height);
        // 16:9 up to the integer truncation of one side.
        EXPECT_LE(std::abs(box.width * 9 - box.height * 16), 16 * 9);

        // setScreenSize's GL call is a no-op without a current context.
        Demo demo;
        demo.setScreenSize(c.width, c.height);
        EXPECT_EQ(demo.screenWidth, c.screenWidth);
        EXPECT_EQ(demo.screenHeight, c.screenHeight);
        EXPECT_EQ(demo.aspectWidth, 16);
        EXPECT_EQ(demo.aspectHeight, 9);
        EXPECT_EQ(demo.windowWidth, c.width);
        EXPECT_EQ(demo.windowHeight, c.height);
    }
}

// A scene that only records what the timeline does to it.
struct Record {
    int inits = 0;
    int destroyed = 0;
    std::vector<uint32_t> drawnAt;
};

class FakePart : public Part {
public:
    FakePart(Record& record, bool initSucceeds = true)
        : Part(nullptr, "Fake"), record_(record), initSucceeds_(initSucceeds) {}
    ~FakePart() override { ++record_.destroyed; }
    bool init() override {
        ++record_.inits;
        return initSucceeds_;
    }
    void draw(uint32_t t) override { record_.drawnAt.push_back(t); }

private:
    Record& record_;
    bool initSucceeds_;
};

// The show's windows: four fixed ends, the last one at the music's end.
void addShowScenes(Timeline& timeline, uint32_t musicEnd, Record (&records)[5]) {
    const uint32_t ends[5] = {106905, 141813, 176721, 194175, musicEnd};
    for (int k = 0; k < 5; ++k)
        timeline.add(ends[k], new FakePart(records[k]));
}

TEST(Timeline, TheFirstWindowHoldingTheTimeDraws) {
    Record records[5];
    Timeline timeline;
    addShowScenes(timeline, 216000, records);
    ASSERT_EQ(timeline.scenes.size(), 5u);

    const struct {
        uint32_t t;
        int scene; // -1: none
    } cases[] = {
        {0, 0},      {106905, 0}, {106906, 1}, {141813, 1}, {141814, 2},  {176721, 2},
        {176722, 3}, {194175, 3}, {194176, 4}, {216000, 4}, {216001, -1}, {0xffffffffu, -1},
    };
    for (const auto& c : cases) {
        Part* expected = c.scene < 0 ? nullptr : timeline.scenes[c.scene];
        EXPECT_EQ(timeline.sceneAt(c.t), expected) << "t = " << c.t;
    }
    EXPECT_EQ(timeline.scenes[4]->startMs, 194175u);
    EXPECT_EQ(timeline.scenes[4]->endMs, 216000u);
}

TEST(Timeline, EveryDrawCountsOnceForTheSceneThatDrew) {
    Record records[5];
    Timeline timeline;
    addShowScenes(timeline, 216000, records);
    for (uint32_t t : {0u, 50000u, 106905u, 106906u, 300000u})
        timeline.drawAt(t);

    EXPECT_EQ(timeline.scenes[0]->drawCount, 3u);
    EXPECT_EQ(timeline.scenes[1]->drawCount, 1u);
    EXPECT_EQ(timeline.scenes[4]->drawCount, 0u);
    EXPECT_EQ(records[0].drawnAt, (std::vector<uint32_t>{0, 50000, 106905}));
    EXPECT_EQ(records[1].drawnAt, (std::vector<uint32_t>{106906}));
    EXPECT_EQ(timeline.drawAt(300000), nullptr);
}

TEST(Timeline, ShortMusicLeavesTheLastWindowEmpty) {
    Record records[5];
    {
        Timeline timeline;
        addShowScenes(timeline, 150000, records);
        ASSERT_EQ(timeline.scenes.size(), 5u); // listed, but start is above end
        EXPECT_EQ(timeline.sceneAt(150000), timeline.scenes[2]);
        for (uint32_t t : {176722u, 194175u, 194176u, 200000u}) {
            EXPECT_NE(timeline.sceneAt(t), timeline.scenes[4]) << t;
        }
        EXPECT_EQ(timeline.sceneAt(194176), nullptr);
    }
    for (const Record& record : records)
        EXPECT_EQ(record.destroyed, 1);
}

TEST(Timeline, WindowsEndingAtOrBeforeFirstMsAreDestroyedNotListed) {
    Record records[5];
    Timeline timeline;
    timeline.firstMs = 141813;
    addShowScenes(timeline, 0, records);
    ASSERT_EQ(timeline.scenes.size(), 2u);
    EXPECT_EQ(records[0].destroyed, 1);
    EXPECT_EQ(records[1].destroyed, 1);
    EXPECT_EQ(records[4].destroyed, 1);
    EXPECT_EQ(timeline.scenes[0]->startMs, 141813u);
    EXPECT_EQ(timeline.lastEndMs, 0u);
}

TEST(Timeline, InitStopsAtTheFirstFailureWithItsNumber) {
    testing_support::CaptureBoxes boxes;
    progressResetForCounting();
    Record records[5];
    Timeline timeline;
    const uint32_t ends[5] = {10, 20, 30, 40, 50};
    for (int k = 0; k < 5; ++k)
        timeline.add(ends[k], new FakePart(records[k], k != 2));

    EXPECT_FALSE(timeline.initAll());
    EXPECT_EQ(progress().position, 3);
    EXPECT_EQ(records[2].inits, 1);
    EXPECT_EQ(records[3].inits, 0);
    ASSERT_EQ(errorList().size(), 1u);
    EXPECT_EQ(errorList()[0], "Part03 init error!");
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
}

TEST(Timeline, InitTakesOneStepPerScene) {
    testing_support::CaptureBoxes boxes;
    progressResetForCounting();
    Record records[5];
    Timeline timeline;
    addShowScenes(timeline, 216000, records);
    EXPECT_TRUE(timeline.initAll());
    EXPECT_EQ(progress().position, 5);
    EXPECT_TRUE(errorList().empty());
}

TEST(Demo, OverlaysStopAt216000) {
    EXPECT_TRUE(Demo::overlaysAt(0));
    EXPECT_TRUE(Demo::overlaysAt(215999));
    EXPECT_FALSE(Demo::overlaysAt(216000));
    EXPECT_FALSE(Demo::overlaysAt(0xffffffffu));
}

} // namespace
