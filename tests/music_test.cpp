// The music object: what open reports, the no-sound fallback, music files of any rate and
// layout, the length handed to the show, and where the frame loop stops (the margin, or a
// stream that stops advancing).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "demo/Music.h"
#include "loader/Loader.h"
#include "platform/Audio.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/OggMaker.h"
#include "support/TestSupport.h"

using namespace testing_support;

namespace {

class MusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        Loader::Close();
        progressResetForCounting();
        chdir_ = std::make_unique<ScopedChdir>(dir_.path());
        std::system("mkdir -p assets");
    }
    void TearDown() override {
        chdir_.reset();
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("PULSE_SERVER");
    }
    // No sound server and no sound card, whatever this machine has.
    static void noOutput() {
        setenv("PULSE_SERVER", "unix:/nonexistent/lumenfall-test", 1);
        setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    }

    TempDir dir_;
    std::unique_ptr<ScopedChdir> chdir_;
    CaptureBoxes boxes_;
};

} // namespace

TEST_F(MusicTest, OpensWithoutASoundDeviceAndKeepsTheClock) {
    noOutput();
    writeFile("assets/music.ogg", makeOgg(2.0));
    Music music;
    ASSERT_TRUE(music.open("music.ogg", 5000, 1.0f));
    EXPECT_EQ(audio::currentDevice(), 0) << "falls back to the silent device";
    EXPECT_TRUE(errorList().empty());
    EXPECT_EQ(progress().position, 7) << "the asset's two steps and five of its own";
    EXPECT_EQ(music.lengthBytes, 2u * 44100u * 4u);
    EXPECT_EQ(music.lengthMs(), 2000);
    EXPECT_EQ(music.endPositionBytes(), music.lengthBytes - 5000);

    music.play();
    uint64_t position = 0;
    for (int i = 0; i < 200 && position == 0; ++i) {
        position = music.positionBytes();
    }
    const uint64_t later = music.positionBytes();
    EXPECT_GE(later, position);
    EXPECT_EQ(music.positionMs(44100 * 4), 1000u);
    music.teardown();
    EXPECT_EQ(music.stream, 0u);
    EXPECT_EQ(audio::currentDevice(), 1) << "the library is closed again";
}

TEST_F(MusicTest, AStreamShorterThanTheMarginEndsAtItsOwnEnd) {
    setenv("PULSE_SERVER", "unix:/nonexistent/lumenfall-test", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    writeFile("assets/music.ogg", makeOgg(0.01));
    Music music;
    ASSERT_TRUE(music.open("music.ogg", 5000, 1.0f));
    ASSERT_LT(music.lengthBytes, 5000u);
    EXPECT_EQ(music.endPositionBytes(), music.lengthBytes);
}

TEST_F(MusicTest, FailuresReportWhatWentWrong) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        const char* message;
    };
    std::vector<uint8_t> corrupt = makeOgg(1.0);
    for (size_t i = 0; i < corrupt.size(); i += 7) {
        corrupt[i] ^= 0xa5;
    }
    const std::vector<Case> cases = {
        {"missing", {}, "Load error : music.ogg"},
        {"corrupt", corrupt, "BASS_StreamCreateFile error : music.ogg"},
        {"not audio", std::vector<uint8_t>(1000, 'x'), "BASS_StreamCreateFile error : music.ogg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clearErrorList();
        std::remove("assets/music.ogg");
        if (!c.file.empty()) {
            writeFile("assets/music.ogg", c.file);
        }
        Music music;
        EXPECT_FALSE(music.open("music.ogg", 5000, 1.0f));
        ASSERT_FALSE(errorList().empty());
        EXPECT_EQ(errorList().back(), c.message);
        music.teardown();
        EXPECT_EQ(audio::currentDevice(), 1) << "nothing stays open after a failed open";
        EXPECT_EQ(music.file.data, nullptr);
    }
}

// Music people have: 48 kHz stereo, 22.05 kHz mono, 48 kHz 5.1; the show gets its length in
// milliseconds and the margin counts the stream's own bytes.
TEST_F(MusicTest, OpensAnyRateAndLayout) {
    noOutput();
    struct Case {
        int rate;
        int channels;
    };
    for (const Case& c : {Case{48000, 2}, Case{22050, 1}, Case{48000, 6}, Case{96000, 2}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channels");
        clearErrorList();
        writeFile("assets/music.ogg", makeOgg(3.0, c.channels, c.rate));
        Music music;
        ASSERT_TRUE(music.open("music.ogg", 5000, 1.0f));
        EXPECT_TRUE(errorList().empty());
        EXPECT_EQ(music.lengthBytes, 3u * c.rate * c.channels * 2);
        EXPECT_EQ(music.lengthMs(), 3000);
        EXPECT_EQ(music.positionMs(static_cast<uint64_t>(c.rate) * c.channels * 2), 1000u);
        music.teardown();
    }
}

// A file whose length promises more than decodes (here its last page claims ten minutes):
// once everything that decodes has been heard, the show ends, with sound or without.
TEST_F(MusicTest, AStreamThatStopsAdvancingEnds) {
    std::vector<uint8_t> song = makeOgg(2.0); // two pages of sound: the last one lies
    ASSERT_TRUE(setLastGranule(song, 600LL * 44100));
    writeFile("assets/music.ogg", song);
    for (const char* driver : {"no-such-driver", "dummy"}) {
        SCOPED_TRACE(driver);
        setenv("PULSE_SERVER", "unix:/nonexistent/lumenfall-test", 1);
        setenv("SDL_AUDIODRIVER", driver, 1);
        Music music;
        ASSERT_TRUE(music.open("music.ogg", 5000, 1.0f));
        ASSERT_GT(music.lengthMs(), 500000);
        music.play();
        uint64_t position = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!music.ended() && std::chrono::steady_clock::now() < deadline) {
            position = music.positionBytes();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(music.ended()) << "the show would wait for ten minutes of nothing";
        EXPECT_LT(position, music.endPositionBytes());
        EXPECT_NEAR(music.positionMs(music.positionBytes()), 2000.0, 30.0) << "where it stopped";
        music.teardown();
    }
}
