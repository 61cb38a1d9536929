#include "sync/SyncTracks.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "loader/Loader.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"

using namespace testing_support;

namespace {

struct Event {
    uint32_t tick;
    uint8_t kind, channel, value;
};

std::vector<uint8_t> eventBytes(const std::vector<Event>& events) {
    std::vector<uint8_t> bytes;
    for (const Event& e : events) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<uint8_t>(e.tick >> shift));
        }
        bytes.insert(bytes.end(), {e.kind, e.channel, e.value, 0xEE});
    }
    return bytes;
}

std::vector<uint8_t> trackBytes(const std::vector<uint16_t>& samples) {
    std::vector<uint8_t> bytes;
    for (uint16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<uint8_t>(s >> 8));
    }
    return bytes;
}

// Assets in a fresh "./assets/" folder, read in folder mode.
class SyncTracksTest : public ::testing::Test {
protected:
    SyncTracksTest() : chdir_(dir_.path()) {
        Loader::Close();
        progressResetForCounting();
        std::filesystem::create_directory(dir_.file("assets"));
    }
    void writeAsset(const std::string& name, const std::vector<uint8_t>& bytes) {
        writeFile(dir_.file("assets/" + name), bytes);
    }
    // An empty list still writes one ignored record: the loader rejects empty files.
    bool loadEvents(const std::vector<Event>& events) {
        writeAsset("music.msd",
                   eventBytes(events.empty() ? std::vector<Event>{{0, 0, 0, 0}} : events));
        return sync_.load("music.msd");
    }

    TempDir dir_;
    ScopedChdir chdir_;
    CaptureBoxes boxes_;
    SyncTracks sync_;
};

} // namespace

TEST(SyncPattern, PatternTwelveIsCutShort) {
    const std::pair<uint32_t, int32_t> cases[] = {
        {0, 0},       {8726, 0},    {8727, 1},    {104724, 12}, {106900, 12},
        {106901, 13}, {115626, 13}, {115627, 14}, {216000, 25},
    };
    for (const auto& [t, expected] : cases) {
        EXPECT_EQ(SyncTracks::patternAt(t), expected) << "t = " << t;
        SyncTracks sync;
        sync.update(t);
        EXPECT_EQ(sync.pattern, expected) << "t = " << t;
    }
}

TEST_F(SyncTracksTest, LevelsReadTheSampleEveryTenMilliseconds) {
    std::vector<uint16_t> first(2000, 0);
    std::vector<uint16_t> second(2000, 0);
    first[1234] = 32768;
    second[1234] = 65535;
    writeAsset("01.rms", trackBytes(first));
    // A trailing odd byte is ignored.
    std::vector<uint8_t> odd = trackBytes(second);
    odd.push_back(0x7F);
    writeAsset("02.rms", odd);
    sync_.trackFiles = {"01.rms", "02.rms"};
    ASSERT_TRUE(loadEvents({}));
    ASSERT_EQ(sync_.trackSamples[1].size(), 2000u);

    sync_.update(12345);
    EXPECT_FLOAT_EQ(sync_.trackLevels[0], 0.5f);
    EXPECT_FLOAT_EQ(sync_.trackLevels[1], 65535.0f / 65536.0f);
    sync_.update(12330);
    EXPECT_EQ(sync_.trackLevels[0], 0.0f);
}

TEST_F(SyncTracksTest, TimePastTheEndOfATrackReadsLevelZero) {
    writeAsset("01.rms", trackBytes({65535, 65535, 65535}));
    sync_.trackFiles = {"01.rms"};
    ASSERT_TRUE(loadEvents({}));
    sync_.update(29);
    EXPECT_GT(sync_.trackLevels[0], 0.99f);
    for (uint32_t t : {30u, 31u, 216000u, 0xFFFFFFFFu}) {
        sync_.update(t);
        EXPECT_EQ(sync_.trackLevels[0], 0.0f) << "t = " << t;
    }
}

TEST_F(SyncTracksTest, NoteEvents) {
    struct Case {
        const char* what;
        std::vector<Event> events;
        uint32_t t;
        int channel;
        int32_t expected;
    };
    const Case cases[] = {
        {"tick 1000 not yet at 5681 ms", {{1000, 1, 3, 7}}, 5681, 3, 0},
        {"tick 1000 from 5682 ms on", {{1000, 1, 3, 7}}, 5682, 3, 7},
        {"sorted: the later tick wins", {{100, 1, 2, 10}, {200, 1, 2, 20}}, 2000, 2, 20},
        {"sorted: only the first has passed", {{100, 1, 2, 10}, {200, 1, 2, 20}}, 1000, 2, 10},
        {"unsorted: file order wins", {{200, 1, 2, 20}, {100, 1, 2, 10}}, 2000, 2, 10},
        {"kind 0 ignored", {{0, 0, 4, 9}}, 100, 4, 0},
        {"kind 2 ignored", {{0, 2, 4, 9}}, 100, 4, 0},
        {"kind 255 ignored", {{0, 255, 4, 9}}, 100, 4, 0},
        {"channel 25 is the last", {{0, 1, 25, 200}}, 100, 25, 200},
        {"value is unsigned", {{0, 1, 0, 255}}, 0, 0, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SyncTracks sync;
        writeAsset("music.msd", eventBytes(c.events));
        ASSERT_TRUE(sync.load("music.msd"));
        sync.update(c.t);
        EXPECT_EQ(sync.channelNotes[c.channel], c.expected);
    }
}

TEST_F(SyncTracksTest, ChannelsOutsideTheTableAreIgnored) {
    ASSERT_TRUE(loadEvents({{0, 1, 26, 1}, {0, 1, 200, 2}, {0, 1, 255, 3}, {0, 1, 1, 4}}));
    sync_.update(1000);
    for (int channel = 0; channel < kSyncChannels; ++channel) {
        EXPECT_EQ(sync_.channelNotes[channel], channel == 1 ? 4 : 0) << "channel " << channel;
    }
}

TEST_F(SyncTracksTest, NotesKeepTheirValueBetweenUpdates) {
    ASSERT_TRUE(loadEvents({{100, 1, 5, 42}}));
    sync_.update(1000);
    EXPECT_EQ(sync_.channelNotes[5], 42);
    // An earlier time does not clear a note that was seen.
    sync_.update(0);
    EXPECT_EQ(sync_.channelNotes[5], 42);
}

TEST_F(SyncTracksTest, TrailingPartialRecordIsIgnored) {
    std::vector<uint8_t> bytes = eventBytes({{1, 1, 0, 1}, {2, 1, 1, 2}});
    bytes.insert(bytes.end(), {0, 0, 0, 0, 1, 2, 3});
    writeAsset("music.msd", bytes);
    ASSERT_TRUE(sync_.load("music.msd"));
    ASSERT_EQ(sync_.events.size(), 2u);
    EXPECT_EQ(sync_.events[1].tick, 2u);
    EXPECT_EQ(sync_.events[1].channel, 1);
}

TEST_F(SyncTracksTest, MissingFilesFailWithTheLoaderMessage) {
    EXPECT_FALSE(sync_.load("music.msd"));
    ASSERT_FALSE(errorList().empty());
    EXPECT_EQ(errorList().back(), "Load error : music.msd");

    clearErrorList();
    writeAsset("01.rms", trackBytes({1, 2}));
    sync_.trackFiles = {"01.rms", "02.rms"};
    EXPECT_FALSE(loadEvents({}));
    ASSERT_FALSE(errorList().empty());
    EXPECT_EQ(errorList().back(), "Load error : 02.rms");
    EXPECT_EQ(sync_.trackSamples[0].size(), 2u); // tracks loaded before it stay
}

TEST_F(SyncTracksTest, MoreTracksThanTheTableHoldsFailTheLoad) {
    sync_.trackFiles.assign(kSyncMaxTracks + 1, "01.rms");
    writeAsset("01.rms", trackBytes({1}));
    EXPECT_FALSE(loadEvents({}));
    EXPECT_FALSE(errorList().empty());
}

TEST_F(SyncTracksTest, AMillionEventsLoadOneMoreIsRefused) {
    // Every frame scans every event: a million is the most a file may hold.
    const std::vector<uint8_t> record = eventBytes({{7, 1, 2, 9}});
    for (const uint32_t count : {kSyncMaxEvents, kSyncMaxEvents + 1}) {
        SCOPED_TRACE(count);
        clearErrorList();
        std::vector<uint8_t> bytes;
        bytes.reserve(static_cast<size_t>(count) * 8);
        for (uint32_t i = 0; i < count; ++i) {
            bytes.insert(bytes.end(), record.begin(), record.end());
        }
        writeAsset("music.msd", bytes);
        SyncTracks sync;
        const bool ok = sync.load("music.msd");
        EXPECT_EQ(ok, count == kSyncMaxEvents);
        EXPECT_EQ(sync.events.size(), ok ? count : 0u);
        EXPECT_EQ(errorList(), ok ? std::vector<std::string>{}
                                  : std::vector<std::string>{"Sync event count error : music.msd"});
    }
}
