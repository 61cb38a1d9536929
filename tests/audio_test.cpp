// The audio back-end: stream creation from memory, byte/second conversions in the stream's own
// format, decoding of any rate and layout, the clock's smoothing on a simulated timeline, the
// playback clock on the "no sound" device and on SDL's dummy and disk drivers, and teardown in
// every state. Against a real sound server: sound_test.cpp.

#include "platform/Audio.h"
#include "platform/AudioClock.h"
#include "platform/AudioDecoder.h"

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
#include <unistd.h>
#include <vector>

#include "support/OggMaker.h"
#include "support/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::encodeOgg;
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
    // No sound server answers here, whatever runs on the machine: these tests are about SDL.
    void SetUp() override {
        audio::free();
        unsetenv("SDL_AUDIODRIVER");
        setenv("PULSE_SERVER", "unix:/nonexistent/lumenfall-test", 1);
    }
    void TearDown() override {
        audio::free();
        unsetenv("PULSE_SERVER");
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
    EXPECT_FALSE(audio::init(0, 0));
    EXPECT_FALSE(audio::init(-1, -44100));
    EXPECT_EQ(audio::currentDevice(), 1);

    ASSERT_TRUE(audio::init(0, 44100));
    EXPECT_EQ(audio::currentDevice(), 0);
    EXPECT_STREQ(audio::outputName(), "none");
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
    EXPECT_STREQ(audio::outputName(), "dummy") << "no sound server, so SDL's driver";
    EXPECT_TRUE(audio::free());
    ASSERT_TRUE(audio::init(0, 44100));
}

// ALSA reports a missing card on stderr from its own error handler; the program's stderr
// holds the program's own lines only.
TEST_F(AudioTest, AlsaKeepsItsComplaintsOffStderr) {
    testing_support::TempDir dir;
    const std::string path = dir.file("stderr.txt");
    std::fflush(stderr);
    const int saved = dup(2);
    FILE* capture = std::fopen(path.c_str(), "w");
    ASSERT_NE(capture, nullptr);
    dup2(fileno(capture), 2);
    setenv("SDL_AUDIODRIVER", "alsa", 1);
    const bool opened = audio::init(-1, 44100); // no card here: fails; with one: plays
    audio::free();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(capture);
    const std::vector<uint8_t> bytes = testing_support::readFile(path);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find("ALSA lib"), std::string::npos) << text;
    std::printf("ALSA output %s; %zu bytes on stderr\n", opened ? "opened" : "absent", text.size());
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

    // An open stream counts in its own frames: 48 kHz 5.1 is 12 bytes a frame.
    ASSERT_TRUE(audio::init(0, 44100));
    const std::vector<uint8_t> song = makeOgg(0.5, 6, 48000);
    const uint32_t handle = audio::streamCreateMemory(song.data(), song.size());
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(audio::channelGetLength(handle), 24000u * 12);
    EXPECT_DOUBLE_EQ(audio::channelBytes2Seconds(handle, 24000u * 12), 0.5);
    EXPECT_DOUBLE_EQ(audio::channelBytes2Seconds(handle, 13), 1.0 / 48000);
    EXPECT_EQ(audio::channelSeconds2Bytes(handle, 1.0), 48000u * 12);
}

// Every rate and layout a listener may have: the length counts the stream's own frames, and
// decoding gives exactly those frames at the stream's rate, or the same time at another.
TEST_F(AudioTest, AnyRateAndLayoutHasItsOwnLength) {
    ASSERT_TRUE(audio::init(0, 44100));
    constexpr double kSeconds = 0.3;
    for (int rate : {8000, 22050, 44100, 48000, 96000}) {
        for (int channels : {1, 2, 6}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels");
            const std::vector<uint8_t> song = makeOgg(kSeconds, channels, rate);
            ASSERT_FALSE(song.empty());
            const auto frames = static_cast<uint64_t>(std::lround(kSeconds * rate));
            const uint32_t handle = audio::streamCreateMemory(song.data(), song.size());
            ASSERT_NE(handle, 0u);
            const uint64_t length = audio::channelGetLength(handle);
            EXPECT_EQ(length, frames * channels * 2);
            EXPECT_EQ(static_cast<int>(audio::channelBytes2Seconds(handle, length) * 1000.0), 300);
            EXPECT_EQ(audio::channelGetPosition(handle), 0u) << "nothing played yet";
            EXPECT_FALSE(audio::streamFree(handle + 1));
            EXPECT_TRUE(audio::streamFree(handle));
            EXPECT_EQ(audio::channelGetLength(handle), 0u) << "freed";

            // Decoded at 44.1 kHz: as long, at 440 Hz, the same sine on both sides.
            AudioDecoder decoder;
            ASSERT_TRUE(decoder.open(song.data(), song.size()));
            std::vector<int16_t> out(2 * 44100);
            const int got = decoder.render(out.data(), 44100, 44100);
            EXPECT_TRUE(decoder.finished());
            EXPECT_NEAR(got, kSeconds * 44100, 44100.0 / rate + 1);
            EXPECT_NEAR(decoder.position(), static_cast<double>(frames), rate / 44100.0 + 1.0);
            int crossings = 0;
            int peak = 0;
            bool sidesMatch = true;
            for (int i = 1; i < got; ++i) {
                crossings += (out[2 * i - 2] < 0) != (out[2 * i] < 0) ? 1 : 0;
                peak = std::max(peak, std::abs(static_cast<int>(out[2 * i])));
                sidesMatch = sidesMatch && std::abs(out[2 * i] - out[2 * i + 1]) <= 1;
            }
            EXPECT_TRUE(sidesMatch);
            EXPECT_NEAR(crossings / 2.0 / kSeconds, 440.0, 8.0) << "pitch";
            // Half scale in every channel stays half scale once mixed down.
            EXPECT_NEAR(peak, 0.5 * 32767, 0.08 * 32767);
        }
    }
}

// Vorbis channel order; the centre on both sides, no low-frequency channel, nothing clips.
TEST_F(AudioTest, DownMixWeights) {
    struct Case {
        int channels;
        int channel;
        float left;
        float right;
    };
    const float side = 0.70710678f;
    const float five = 1.0f + 2.0f * side; // a 5.1 side: front, centre, surround
    const Case cases[] = {
        {1, 0, 1.0f, 1.0f},        {2, 0, 1.0f, 0.0f},
        {2, 1, 0.0f, 1.0f},        {3, 1, side / (1.0f + side), side / (1.0f + side)},
        {6, 0, 1.0f / five, 0.0f}, {6, 1, side / five, side / five},
        {6, 2, 0.0f, 1.0f / five}, {6, 3, side / five, 0.0f},
        {6, 4, 0.0f, side / five}, {6, 5, 0.0f, 0.0f},
        {8, 7, 0.0f, 0.0f},        {9, 0, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, channel " << c.channel);
        float left = -1.0f;
        float right = -1.0f;
        AudioDecoder::mixWeights(c.channels, c.channel, left, right);
        EXPECT_NEAR(left, c.left, 1e-6f);
        EXPECT_NEAR(right, c.right, 1e-6f);
    }
    for (int channels = 1; channels <= 8; ++channels) {
        float totalLeft = 0.0f;
        float totalRight = 0.0f;
        for (int c = 0; c < channels; ++c) {
            float left = 0.0f;
            float right = 0.0f;
            AudioDecoder::mixWeights(channels, c, left, right);
            totalLeft += left;
            totalRight += right;
        }
        EXPECT_LE(std::max(totalLeft, totalRight), 1.0f + 1e-6f) << channels << " channels";
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
        {"nine channels", makeOgg(0.2, 9)},
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
    // Never ahead of the time since play; behind only by what a loaded machine delays.
    EXPECT_LE(msOfBytes(position), elapsedMs + 1.0);
    EXPECT_GE(msOfBytes(position), elapsedMs - 250.0);

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
    EXPECT_LT(msOfBytes(resumed - held), 100.0 + 250.0);

    // Restart goes back to the beginning; the end holds the position at the length.
    ASSERT_TRUE(audio::channelPlay(handle, true));
    EXPECT_LT(msOfBytes(audio::channelGetPosition(handle)), 250.0);
    EXPECT_FALSE(audio::channelEnded(handle));
    sleepMs(2200);
    EXPECT_EQ(audio::channelGetPosition(handle), audio::channelGetLength(handle));
    EXPECT_TRUE(audio::channelEnded(handle));
}

// The clock on a simulated output over the whole show: the output reports what it plays in
// steps (timing updates every 10 ms, up to 3 ms off either way, a server that stalls for
// 40 ms once a minute and then jumps ahead), the show reads every millisecond. The clock
// never goes backwards, never steps more than 2 ms, and ends where the sound is.
TEST(AudioClock, SmoothOverAWholeShowOfJitteryReports) {
    constexpr double kRate = 48000.0;
    constexpr double kShowSeconds = 216.0;
    SmoothClock clock;
    clock.reset();
    uint32_t noise = 12345;
    double reported = 0.0;
    double reportedAt = 0.0;
    double previous = 0.0;
    double maxStep = 0.0;
    double maxBehind = 0.0;
    double worstLate = 0.0;
    for (int ms = 0; ms <= kShowSeconds * 1000; ++ms) {
        const double now = ms / 1000.0;
        const bool stalled = ms % 60000 >= 30000 && ms % 60000 < 30040;
        if (ms % 10 == 0 && !stalled) {
            noise = noise * 1664525u + 1013904223u;
            const double error = (static_cast<int>((noise >> 8) % 6001) - 3000) / 1e6; // +-3 ms
            reported = std::max(reported, (now + error) * kRate);
            reportedAt = now;
        }
        // Between updates the output interpolates, as a sound server's client library does.
        const double interpolated = stalled ? reported : reported + (now - reportedAt) * kRate;
        const double position = clock.update(interpolated, now, kRate);
        ASSERT_GE(position, previous) << "backwards at " << ms << " ms";
        maxStep = std::max(maxStep, (position - previous) / kRate * 1000.0);
        maxBehind = std::max(maxBehind, (now * kRate - position) / kRate * 1000.0);
        if (ms > 1000) {
            worstLate = std::max(worstLate, (interpolated - position) / kRate * 1000.0);
        }
        previous = position;
    }
    std::printf("smooth clock over %.0f s: largest step %.2f ms, at most %.2f ms behind true "
                "time, %.2f ms behind the output, %.3f ms off at the end\n",
                kShowSeconds, maxStep, maxBehind, worstLate,
                kShowSeconds * 1000.0 - previous / kRate * 1000.0);
    EXPECT_LE(maxStep, 2.0);
    EXPECT_LT(worstLate, 80.0) << "catches up with a stalled output";
    EXPECT_NEAR(previous / kRate, kShowSeconds, 0.004) << "no drift over the show";

    // A new output far ahead (a move to another device) is followed at once; one that falls
    // back only holds the clock.
    clock.reset(1000.0);
    clock.update(1000.0, 0.0, kRate);
    EXPECT_DOUBLE_EQ(clock.update(1000.0 + kRate, 0.001, kRate), 1000.0 + kRate);
    EXPECT_DOUBLE_EQ(clock.update(500.0, 0.002, kRate), 1000.0 + kRate);
}

// Output frames map back to the stream frames that went into them, through resampling and
// silence; the map forgets only what is long played.
TEST(AudioClock, TimelineMapsOutputFramesToStreamFrames) {
    AudioTimeline timeline;
    timeline.reset();
    EXPECT_DOUBLE_EQ(timeline.streamAt(100.0), 0.0) << "nothing handed";
    // 1000 output frames from 500 stream frames (a 22.05 kHz file on a 44.1 kHz device), then
    // the end: silence at stream frame 500.
    timeline.append(0, 1000, 0.0, 500.0);
    timeline.append(1000, 24, 500.0, 500.0);
    timeline.append(1024, 1024, 500.0, 500.0);
    const double cases[][2] = {{0, 0},      {1, 0.5},    {999, 499.5}, {1000, 500},
                               {1500, 500}, {5000, 500}, {-3, 0}};
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(timeline.streamAt(c[0]), c[1]) << c[0];
    }
    for (uint64_t i = 0; i < 1000; ++i) {
        timeline.append(2048 + i * 10, 10, 500.0 + i, 501.0 + i);
    }
    EXPECT_DOUBLE_EQ(timeline.streamAt(2048.0 + 995 * 10 + 5), 1495.5);
    EXPECT_DOUBLE_EQ(timeline.streamAt(0.0), 500.0 + 1000 - 256) << "the oldest remembered";
}

// Reads the position every 2 ms for half a second of playback on SDL's dummy driver. What a
// loaded machine cannot promise (the driver's own pace) is judged loosely here; the sound
// server suite measures the clock against the recorded sound.
TEST_F(AudioTest, DeviceClockIsSmoothAndMonotonic) {
    ASSERT_TRUE(initDummy());
    const std::vector<uint8_t> song = makeOgg(3.0);
    const uint32_t handle = audio::streamCreateMemory(song.data(), song.size());
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(audio::channelPlay(handle, true));
    sleepMs(100); // let the callback thread settle

    uint64_t previous = audio::channelGetPosition(handle);
    Clock::time_point previousAt = Clock::now();
    const Clock::time_point origin = previousAt;
    size_t reads = 0;
    size_t moved = 0;
    double maxExcess = 0.0;
    while (Clock::now() - origin < std::chrono::milliseconds(500)) {
        sleepMs(2);
        const uint64_t position = audio::channelGetPosition(handle);
        const Clock::time_point now = Clock::now();
        ASSERT_EQ(position % 4, 0u);
        ASSERT_GE(position, previous) << "the clock went backwards";
        const double wall = std::chrono::duration<double, std::milli>(now - previousAt).count();
        maxExcess = std::max(maxExcess, msOfBytes(static_cast<double>(position - previous)) -
                                            SmoothClock::kCatchUp * wall);
        moved += position > previous ? 1 : 0;
        ++reads;
        previous = position;
        previousAt = now;
    }
    std::printf("device clock: %zu reads, %.0f%% moved, largest lead over the catch-up pace "
                "%.2f ms\n",
                reads, 100.0 * moved / reads, maxExcess);
    EXPECT_GT(moved, reads / 2) << "the position moves between device buffers";
    EXPECT_LT(maxExcess, 1.0) << "the position leapt";

    // A stopped output hands nothing more, so the position runs out within a buffer (23 ms)
    // and holds; once started again it carries on from there.
    ASSERT_TRUE(audio::stop());
    const uint64_t atStop = audio::channelGetPosition(handle);
    sleepMs(200);
    const uint64_t held = audio::channelGetPosition(handle);
    EXPECT_LE(msOfBytes(static_cast<double>(held - atStop)), 24.0 * SmoothClock::kCatchUp);
    sleepMs(50);
    EXPECT_EQ(audio::channelGetPosition(handle), held);
    ASSERT_TRUE(audio::start());
    sleepMs(100);
    const uint64_t resumed = audio::channelGetPosition(handle);
    EXPECT_GT(resumed, held);
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
    const Clock::time_point endDeadline = Clock::now() + std::chrono::seconds(10);
    while (!audio::channelEnded(handle) && Clock::now() < endDeadline) {
        sleepMs(5);
        audio::channelGetPosition(handle);
    }
    EXPECT_TRUE(audio::channelEnded(handle)) << "everything that decodes was played";
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
