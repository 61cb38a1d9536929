// The audio back-end: stream creation from memory, byte/second conversions, the playback clock
// on the "no sound" device and on SDL's dummy and disk drivers, and teardown in every state.

#include "platform/Audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "support/OggMaker.h"
#include "support/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::makeOgg;

constexpr uint64_t kBytesPerSecond = 44100 * 4;

double msOfBytes(double bytes) {
    return bytes * 1000.0 / kBytesPerSecond;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Every test starts and ends with the back-end shut and SDL choosing its own driver.
class AudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        audio::free();
        unsetenv("SDL_AUDIODRIVER");
    }
    void TearDown() override {
        audio::free();
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");
    }
    // SDL's silent stand-in for a sound card: pulls buffers at the real rate.
    static bool initDummy() {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        return audio::init(-1, 44100);
    }
};

TEST_F(AudioTest, InitOpensOneDeviceAtATime) {
    EXPECT_EQ(audio::getVersion() >> 16, 0x0204u);
    EXPECT_EQ(audio::currentDevice(), 1);

    // Refused arguments leave the back-end shut.
    EXPECT_FALSE(audio::init(3, 44100));
    EXPECT_FALSE(audio::init(0, 22050));
    EXPECT_EQ(audio::currentDevice(), 1);

    ASSERT_TRUE(audio::init(0, 44100));
    EXPECT_EQ(audio::currentDevice(), 0);
    EXPECT_FALSE(audio::init(0, 44100)) << "already initialised";
    EXPECT_TRUE(audio::start());
    EXPECT_TRUE(audio::free());
    EXPECT_EQ(audio::currentDevice(), 1);

    // A driver that does not exist makes the default output fail cleanly, and afterwards both
    // the silent and the real output can still be opened.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(audio::init(-1, 44100));
    EXPECT_EQ(audio::currentDevice(), 1);
    EXPECT_FALSE(audio::start());
    ASSERT_TRUE(initDummy());
    EXPECT_EQ(audio::currentDevice(), -1);
    EXPECT_TRUE(audio::free());
    ASSERT_TRUE(audio::init(0, 44100));
}

TEST_F(AudioTest, TeardownIsSafeInEveryState) {
    const std::vector<uint8_t> song = makeOgg(1.0);
    ASSERT_FALSE(song.empty());
    const std::vector<uint8_t> junk(4000, 0x5a);

    enum class Setup { Never, InitFailed, StreamFailed, SilentStream, DummyPlaying };
    struct Case {
        const char* name;
        Setup setup;
        bool stopResult;
        bool streamFreeResult;
        bool freeResult;
    };
    const Case cases[] = {
        {"never initialised", Setup::Never, false, false, false},
        {"init failed", Setup::InitFailed, false, false, false},
        {"stream failed", Setup::StreamFailed, true, false, true},
        {"silent stream", Setup::SilentStream, true, true, true},
        {"dummy output playing", Setup::DummyPlaying, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t handle = 0;
        switch (c.setup) {
        case Setup::Never:
            break;
        case Setup::InitFailed:
            setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
            ASSERT_FALSE(audio::init(-1, 44100));
            unsetenv("SDL_AUDIODRIVER");
            break;
        case Setup::StreamFailed:
            ASSERT_TRUE(audio::init(0, 44100));
            handle = audio::streamCreateMemory(junk.data(), junk.size());
            ASSERT_EQ(handle, 0u);
            break;
        case Setup::SilentStream:
            ASSERT_TRUE(audio::init(0, 44100));
            handle = audio::streamCreateMemory(song.data(), song.size());
            ASSERT_NE(handle, 0u);
            break;
        case Setup::DummyPlaying:
            ASSERT_TRUE(initDummy());
            handle = audio::streamCreateMemory(song.data(), song.size());
            ASSERT_NE(handle, 0u);
            ASSERT_TRUE(audio::channelPlay(handle, true));
            sleepMs(60);
            break;
        }
        EXPECT_EQ(audio::stop(), c.stopResult);
        EXPECT_EQ(audio::streamFree(handle), c.streamFreeResult);
        EXPECT_EQ(audio::free(), c.freeResult);
        // Nothing is left behind: a second round fails quietly and a fresh start works.
        EXPECT_FALSE(audio::streamFree(handle));
        EXPECT_FALSE(audio::free());
        EXPECT_EQ(audio::channelGetPosition(handle), 0u);
        EXPECT_TRUE(audio::init(0, 44100));
        EXPECT_TRUE(audio::free());
    }
}

TEST_F(AudioTest, BytesAndSecondsConvert) {
    struct Case {
        uint64_t bytes;
        double seconds;
    };
    const Case exact[] = {
        {0, 0.0},
        {4, 1.0 / 44100},
        {kBytesPerSecond, 1.0},
        {kBytesPerSecond / 2, 0.5},
        {kBytesPerSecond * 216, 216.0},
        {kBytesPerSecond * 3600 * 24, 86400.0},
    };
    for (const Case& c : exact) {
        SCOPED_TRACE(c.bytes);
        EXPECT_DOUBLE_EQ(audio::channelBytes2Seconds(1, c.bytes), c.seconds);
        EXPECT_EQ(audio::channelSeconds2Bytes(1, c.seconds), c.bytes);
    }
    // Partial frames count for nothing; seconds round down to whole frames.
    EXPECT_DOUBLE_EQ(audio::channelBytes2Seconds(1, 7), 1.0 / 44100);
    EXPECT_EQ(audio::channelSeconds2Bytes(1, 1.5 / 44100), 4u);
    // No negative or NaN seconds become a wrapped byte count.
    EXPECT_EQ(audio::channelSeconds2Bytes(1, -2.0), 0u);
    EXPECT_EQ(audio::channelSeconds2Bytes(1, std::nan("")), 0u);
    EXPECT_EQ(audio::channelSeconds2Bytes(1, 1e300) % 4, 0u);
    EXPECT_GE(audio::channelBytes2Seconds(0, 12345), 0.0);
}

TEST_F(AudioTest, StreamLengthIsEveryDecodedFrame) {
    ASSERT_TRUE(audio::init(0, 44100));
    struct Case {
        double seconds;
        int channels;
        uint64_t frames;
    };
    const Case cases[] = {{2.0, 2, 88200}, {0.25, 1, 11025}, {1.0 / 441, 2, 100}, {3.5, 1, 154350}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.seconds << " s, " << c.channels << " channels");
        const std::vector<uint8_t> song = makeOgg(c.seconds, c.channels);
        const uint32_t handle = audio::streamCreateMemory(song.data(), song.size());
        ASSERT_NE(handle, 0u);
        EXPECT_EQ(audio::channelGetLength(handle), c.frames * 4);
        EXPECT_EQ(audio::channelGetPosition(handle), 0u) << "nothing played yet";
        EXPECT_FALSE(audio::streamFree(handle + 1));
        EXPECT_TRUE(audio::streamFree(handle));
        EXPECT_EQ(audio::channelGetLength(handle), 0u) << "freed";
    }
}

TEST_F(AudioTest, UnplayableStreamsGetNoHandle) {
    ASSERT_TRUE(audio::init(0, 44100));
    const std::vector<uint8_t> good = makeOgg(1.0);
    ASSERT_GT(good.size(), 200u);
    std::vector<uint8_t> flipped = good;
    for (size_t i = 0; i < 64; ++i) {
        flipped[i] ^= 0xff;
    }
    std::vector<uint8_t> noise(20000);
    for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    }
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"noise", noise},
        {"header damaged", flipped},
        {"cut inside the headers", std::vector<uint8_t>(good.begin(), good.begin() + 100)},
        {"22050 Hz", makeOgg(1.0, 2, 22050)},
        {"48000 Hz", makeOgg(1.0, 1, 48000)},
        {"three channels", makeOgg(1.0, 3)},
        {"one byte", std::vector<uint8_t>(1, 'O')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        EXPECT_EQ(audio::streamCreateMemory(c.bytes.data(), c.bytes.size()), 0u);
    }
    EXPECT_EQ(audio::streamCreateMemory(nullptr, 100), 0u);
    EXPECT_EQ(audio::streamCreateMemory(good.data(), 0), 0u);

    // One stream at a time; a good stream still works after all the refusals.
    const uint32_t handle = audio::streamCreateMemory(good.data(), good.size());
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(audio::streamCreateMemory(good.data(), good.size()), 0u);
    EXPECT_TRUE(audio::channelPlay(handle, true));
    EXPECT_TRUE(audio::streamFree(handle));
    audio::free();
    EXPECT_EQ(audio::streamCreateMemory(good.data(), good.size()), 0u) << "not initialised";
}

TEST_F(AudioTest, VolumeAcceptsOnlyUsableValues) {
    ASSERT_TRUE(audio::init(0, 44100));
    const std::vector<uint8_t> song = makeOgg(0.5);
    const uint32_t handle = audio::streamCreateMemory(song.data(), song.size());
    ASSERT_NE(handle, 0u);
    for (float volume : {0.0f, 0.5f, 1.0f}) {
        EXPECT_TRUE(audio::channelSetVolume(handle, volume)) << volume;
    }
    for (float volume :
         {-0.5f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        EXPECT_FALSE(audio::channelSetVolume(handle, volume)) << volume;
    }
    EXPECT_FALSE(audio::channelSetVolume(handle + 1, 1.0f));
}

TEST_F(AudioTest, SilentClockFollowsWallTime) {
    ASSERT_TRUE(audio::init(0, 44100));
    ASSERT_TRUE(audio::start());
    const std::vector<uint8_t> song = makeOgg(2.0);
    const uint32_t handle = audio::streamCreateMemory(song.data(), song.size());
    ASSERT_NE(handle, 0u);
    sleepMs(30);
    EXPECT_EQ(audio::channelGetPosition(handle), 0u) << "before play";

    const Clock::time_point before = Clock::now();
    ASSERT_TRUE(audio::channelPlay(handle, true));
    sleepMs(500);
    const uint64_t position = audio::channelGetPosition(handle);
    const double elapsedMs =
        std::chrono::duration<double, std::milli>(Clock::now() - before).count();
    EXPECT_EQ(position % 4, 0u);
    EXPECT_LE(msOfBytes(position), elapsedMs + 1.0);
    EXPECT_GE(msOfBytes(position), elapsedMs - 50.0);

    // Stopping the output holds the clock; starting it again moves on from there.
    ASSERT_TRUE(audio::stop());
    const uint64_t held = audio::channelGetPosition(handle);
    EXPECT_FALSE(audio::channelPlay(handle, false)) << "output stopped";
    sleepMs(100);
    EXPECT_EQ(audio::channelGetPosition(handle), held);
    ASSERT_TRUE(audio::start());
    sleepMs(100);
    const uint64_t resumed = audio::channelGetPosition(handle);
    EXPECT_GT(resumed, held);
    EXPECT_LT(msOfBytes(resumed - held), 100.0 + 50.0);

    // Restart goes back to the beginning; the end holds the position at the length.
    ASSERT_TRUE(audio::channelPlay(handle, true));
    EXPECT_LT(msOfBytes(audio::channelGetPosition(handle)), 20.0);
    sleepMs(2200);
    EXPECT_EQ(audio::channelGetPosition(handle), audio::channelGetLength(handle));
}

// Reads the position every 2 ms for half a second of playback on SDL's dummy driver.
TEST_F(AudioTest, DeviceClockIsSmoothAndMonotonic) {
    ASSERT_TRUE(initDummy());
    const std::vector<uint8_t> song = makeOgg(3.0);
    const uint32_t handle = audio::streamCreateMemory(song.data(), song.size());
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(audio::channelSetVolume(handle, 1.0f));
    ASSERT_TRUE(audio::channelPlay(handle, true));
    sleepMs(100); // let the callback thread settle

    struct Sample {
        double ms;       // wall clock
        double playedMs; // position
    };
    std::vector<Sample> samples;
    const Clock::time_point origin = Clock::now();
    uint64_t previous = 0;
    while (Clock::now() - origin < std::chrono::milliseconds(500)) {
        const uint64_t position = audio::channelGetPosition(handle);
        const Clock::time_point now = Clock::now();
        ASSERT_EQ(position % 4, 0u);
        ASSERT_GE(position, previous) << "the clock went backwards";
        previous = position;
        samples.push_back({std::chrono::duration<double, std::milli>(now - origin).count(),
                           msOfBytes(static_cast<double>(position))});
        sleepMs(2);
    }
    ASSERT_GT(samples.size(), 50u);

    // Smooth: most reads see a new position, and no read jumps further than the time since the
    // previous one (plus a little for the read itself).
    size_t moved = 0;
    double maxStep = 0.0;
    double maxExcess = 0.0;
    for (size_t i = 1; i < samples.size(); ++i) {
        const double step = samples[i].playedMs - samples[i - 1].playedMs;
        const double wall = samples[i].ms - samples[i - 1].ms;
        moved += step > 0.0 ? 1 : 0;
        maxStep = std::max(maxStep, step);
        maxExcess = std::max(maxExcess, step - wall);
    }
    const double movedShare = static_cast<double>(moved) / (samples.size() - 1);
    EXPECT_GT(movedShare, 0.6) << "the position moves in device-buffer steps";
    EXPECT_LT(maxExcess, 3.0) << "the position jumped ahead of the wall clock";

    // Close to the frames consumed: the dummy device pulls at a steady rate, so the positions
    // lie on a line; fit it and measure how far any read strays from it.
    double sumT = 0, sumP = 0, sumTT = 0, sumTP = 0;
    for (const Sample& s : samples) {
        sumT += s.ms;
        sumP += s.playedMs;
        sumTT += s.ms * s.ms;
        sumTP += s.ms * s.playedMs;
    }
    const double n = static_cast<double>(samples.size());
    const double slope = (n * sumTP - sumT * sumP) / (n * sumTT - sumT * sumT);
    const double offset = (sumP - slope * sumT) / n;
    double maxResidual = 0.0;
    for (const Sample& s : samples) {
        maxResidual = std::max(maxResidual, std::abs(s.playedMs - (offset + slope * s.ms)));
    }
    EXPECT_NEAR(slope, 1.0, 0.1);
    EXPECT_LT(maxResidual, 10.0);
    std::printf("device clock: %zu reads, %.0f%% moved, max step %.2f ms, max lead over wall "
                "%.2f ms, rate %.4f, max distance from steady line %.2f ms\n",
                samples.size(), movedShare * 100.0, maxStep, maxExcess, slope, maxResidual);

    // A stopped output hands nothing more, so the position runs out within one buffer (23 ms)
    // and holds; once started again it carries on from there.
    ASSERT_TRUE(audio::stop());
    const uint64_t atStop = audio::channelGetPosition(handle);
    sleepMs(200);
    const uint64_t held = audio::channelGetPosition(handle);
    EXPECT_LE(msOfBytes(static_cast<double>(held - atStop)), 24.0);
    sleepMs(50);
    EXPECT_EQ(audio::channelGetPosition(handle), held);
    ASSERT_TRUE(audio::start());
    sleepMs(100);
    const uint64_t resumed = audio::channelGetPosition(handle);
    EXPECT_GT(resumed, held);
    EXPECT_LT(msOfBytes(static_cast<double>(resumed - held)), 100.0 + 30.0);
}

// The disk driver writes what the device would play to a file, faster than real time.
TEST_F(AudioTest, DecodedSoundReachesTheDevice) {
    testing_support::TempDir dir;
    const std::string raw = dir.file("out.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    ASSERT_TRUE(audio::init(-1, 44100));
    const std::vector<uint8_t> song = makeOgg(0.5, 1);
    const uint32_t handle = audio::streamCreateMemory(song.data(), song.size());
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(audio::channelSetVolume(handle, 0.5f));
    ASSERT_TRUE(audio::channelPlay(handle, true));
    const uint64_t length = audio::channelGetLength(handle);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (audio::channelGetPosition(handle) < length && Clock::now() < deadline) {
        sleepMs(5);
    }
    ASSERT_EQ(audio::channelGetPosition(handle), length);
    sleepMs(50); // a few buffers of silence after the end
    ASSERT_TRUE(audio::free());

    const std::vector<uint8_t> bytes = testing_support::readFile(raw);
    ASSERT_EQ(bytes.size() % 4, 0u);
    std::vector<int16_t> frames(bytes.size() / 2);
    std::memcpy(frames.data(), bytes.data(), bytes.size());
    size_t first = frames.size(), last = 0;
    int peak = 0;
    for (size_t i = 0; i + 1 < frames.size(); i += 2) {
        ASSERT_EQ(frames[i], frames[i + 1]) << "mono is spread to both sides, frame " << i / 2;
        if (frames[i] != 0) {
            first = std::min(first, i / 2);
            last = i / 2;
            peak = std::max(peak, std::abs(static_cast<int>(frames[i])));
        }
    }
    ASSERT_LT(first, last) << "nothing was played";
    // Half-scale sine at half volume; the encoder is lossy, so allow some spread.
    EXPECT_NEAR(peak, 0.25 * 32767, 0.05 * 32767);
    EXPECT_NEAR(static_cast<double>(last - first + 1), 22050.0, 64.0);
    EXPECT_GT(frames.size() / 2, last + 1) << "silence follows the end";
}

} // namespace
