#include "platform/Audio.h"

// One output and one stream, both process-wide. The public calls come from the main thread;
// the output's thread calls feed() to decode. What feed() reads and writes is guarded by the
// output's lock; the smoothing and the silent clock belong to the main thread alone.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/AudioClock.h"
#include "platform/AudioDecoder.h"
#include "platform/AudioOutput.h"

namespace audio {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDeviceDefault = -1;
constexpr int kDeviceNoSound = 0;
constexpr int kNotInitialised = 1;
constexpr int kMaxRate = 768000;
// Conversions for a handle that names no stream: 16-bit stereo at the default rate.
constexpr int kDefaultBytesPerFrame = 4;
// An output that plays nothing for this long while it should is as good as gone (a server
// whose sink never starts): the show goes on without it.
constexpr auto kStalledOutput = std::chrono::seconds(3);

struct Stream {
    bool open = false;
    uint32_t handle = 0;
    AudioDecoder decoder;
    uint64_t lengthFrames = 0;
    int rate = kSampleRate;
    int bytesPerFrame = kDefaultBytesPerFrame;
    bool playing = false;
    // Written by feed(), read under the output's lock.
    AudioTimeline timeline;
    bool endHanded = false;      // the decoder has nothing more
    uint64_t endOutputFrame = 0; // the output frame where the music stopped
    // Main thread only.
    SmoothClock smooth;
    uint64_t lastReturned = 0; // stream frames; positions never go backwards
    bool ended = false;
    double lastHeard = 0.0;         // output frames at the latest read
    Clock::time_point heardMoved{}; // when that last changed
    std::vector<int16_t> scratch;   // what the silent clock decodes, heard by no one
};

// Device 0, and any output that went away, move the position with the monotonic clock.
struct SilentClock {
    bool running = false;
    Clock::time_point since{};
    uint64_t baseFrames = 0;
};

struct State {
    int device = kNotInitialised;
    bool outputStarted = false;
    std::unique_ptr<AudioOutput> output; // null on device 0
    bool outputLost = false;
    uint32_t nextHandle = 1;
    Stream stream;
    SilentClock silent;
};

State state;

bool isOpenStream(uint32_t handle) {
    return handle != 0 && state.stream.open && state.stream.handle == handle;
}

double secondsOf(Clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// The output's thread, lock held: the next `frames` output frames, music while there is some.
void feed(int16_t* out, int frames, uint64_t outputIndex) {
    Stream& s = state.stream;
    int written = 0;
    if (s.open && s.playing) {
        const double from = s.decoder.position();
        written = s.decoder.render(out, frames, state.output->rate());
        const double to = s.decoder.position();
        s.timeline.append(outputIndex, static_cast<uint64_t>(written), from, to);
        s.timeline.append(outputIndex + written, static_cast<uint64_t>(frames - written), to, to);
        if (!s.endHanded && s.decoder.finished()) {
            s.endHanded = true;
            s.endOutputFrame = outputIndex + static_cast<uint64_t>(written);
        }
    }
    std::memset(out + 2 * written, 0, static_cast<size_t>(frames - written) * 4);
}

void silentStart(uint64_t frames, bool running) {
    state.silent.baseFrames = frames;
    state.silent.since = Clock::now();
    state.silent.running = running;
}

uint64_t silentFrames(Clock::time_point now) {
    const SilentClock& c = state.silent;
    uint64_t frames = c.baseFrames;
    if (c.running) {
        const double seconds = std::max(0.0, std::chrono::duration<double>(now - c.since).count());
        frames += static_cast<uint64_t>(seconds * state.stream.rate);
    }
    return std::min(frames, state.stream.lengthFrames);
}

// Without an output the decoder still runs along the clock, unheard, so a stream that stops
// decoding early (a damaged file) stops the clock there too. Lock held when there is an output.
uint64_t decodeSilently(uint64_t target) {
    Stream& s = state.stream;
    const int chunk = static_cast<int>(s.scratch.size() / 2);
    while (s.decoder.position() < static_cast<double>(target) && !s.decoder.finished()) {
        s.decoder.render(s.scratch.data(), chunk, s.rate);
    }
    if (s.decoder.finished()) {
        return std::min(target, static_cast<uint64_t>(s.decoder.position()));
    }
    return target;
}

// The output went away: the picture goes on from what was last heard, in silence.
void orphanStream() {
    state.outputLost = true;
    silentStart(state.stream.lastReturned, state.outputStarted && state.stream.playing);
}

void closeStream() {
    Stream& s = state.stream;
    AudioOutputLock lock(state.output.get());
    s.decoder.close();
    s.open = false;
    s.playing = false;
    s.handle = 0;
    s.timeline.reset();
    s.endHanded = false;
}

} // namespace

uint32_t getVersion() {
    return kVersion;
}

bool init(int device, int frequency) {
    if (state.device != kNotInitialised || frequency <= 0 || frequency > kMaxRate) {
        return false;
    }
    if (device == kDeviceDefault) {
        state.output = openSoundServerOutput("lumenfall");
        if (state.output == nullptr) {
            state.output = openSdlOutput(frequency);
        }
        if (state.output == nullptr) {
            return false;
        }
    } else if (device != kDeviceNoSound) {
        return false;
    }
    state.device = device;
    state.outputStarted = true;
    state.outputLost = false;
    state.silent = SilentClock{};
    return true;
}

bool start() {
    if (state.device == kNotInitialised) {
        return false;
    }
    if (state.outputStarted) {
        return true;
    }
    state.outputStarted = true;
    state.stream.heardMoved = Clock::now();
    if (state.output != nullptr && !state.outputLost) {
        state.output->pause(false);
    } else if (state.stream.open && state.stream.playing) {
        silentStart(state.silent.baseFrames, true);
    }
    return true;
}

uint32_t streamCreateMemory(const void* data, uint64_t length) {
    Stream& s = state.stream;
    if (state.device == kNotInitialised || s.open) {
        return 0;
    }
    // feed() leaves the decoder alone while the stream is not open.
    if (!s.decoder.open(data, length)) {
        return 0;
    }
    AudioOutputLock lock(state.output.get());
    s.lengthFrames = s.decoder.lengthFrames();
    s.rate = s.decoder.rate();
    s.bytesPerFrame = s.decoder.channels() * 2;
    s.handle = state.nextHandle++;
    if (state.nextHandle == 0) {
        state.nextHandle = 1;
    }
    s.open = true;
    s.playing = false;
    s.timeline.reset();
    s.endHanded = false;
    s.smooth.reset();
    s.lastReturned = 0;
    s.ended = false;
    s.decoder.setVolume(1.0f);
    s.scratch.resize(2 * 1024);
    state.silent = SilentClock{};
    return s.handle;
}

uint64_t channelGetLength(uint32_t handle) {
    return isOpenStream(handle) ? state.stream.lengthFrames * state.stream.bytesPerFrame : 0;
}

uint64_t channelGetPosition(uint32_t handle) {
    if (!isOpenStream(handle)) {
        return 0;
    }
    Stream& s = state.stream;
    if (!s.playing) {
        return s.lastReturned * s.bytesPerFrame;
    }
    const Clock::time_point now = Clock::now();
    uint64_t frames = s.lastReturned;
    if (state.output != nullptr && !state.outputLost) {
        AudioOutputLock lock(state.output.get());
        double played = 0.0;
        if (state.output->lost()) {
            orphanStream();
        } else if (state.output->playedFrames(played)) {
            const double heard = s.smooth.update(played, secondsOf(now), state.output->rate());
            frames = static_cast<uint64_t>(std::max(0.0, s.timeline.streamAt(heard)));
            s.ended = s.endHanded && heard >= static_cast<double>(s.endOutputFrame);
            if (heard != s.lastHeard) {
                s.lastHeard = heard;
                s.heardMoved = now;
            }
        }
        if (!state.outputLost && state.outputStarted && !s.ended &&
            now - s.heardMoved > kStalledOutput) {
            orphanStream();
        }
    }
    if (state.output == nullptr || state.outputLost) {
        AudioOutputLock lock(state.output.get());
        frames = decodeSilently(silentFrames(now));
        s.ended = frames >= s.lengthFrames ||
                  (s.decoder.finished() && frames >= static_cast<uint64_t>(s.decoder.position()));
    }
    frames = std::min(std::max(frames, s.lastReturned), s.lengthFrames);
    s.lastReturned = frames;
    return frames * s.bytesPerFrame;
}

bool channelEnded(uint32_t handle) {
    return isOpenStream(handle) && state.stream.playing && state.stream.ended;
}

double channelBytes2Seconds(uint32_t handle, uint64_t bytes) {
    const bool own = isOpenStream(handle);
    const uint64_t perFrame = own ? state.stream.bytesPerFrame : kDefaultBytesPerFrame;
    const int rate = own ? state.stream.rate : kSampleRate;
    return static_cast<double>(bytes / perFrame) / rate;
}

uint64_t channelSeconds2Bytes(uint32_t handle, double seconds) {
    const bool own = isOpenStream(handle);
    const uint64_t perFrame = own ? state.stream.bytesPerFrame : kDefaultBytesPerFrame;
    const int rate = own ? state.stream.rate : kSampleRate;
    const uint64_t maxFrames = std::numeric_limits<uint64_t>::max() / perFrame;
    if (!(seconds > 0.0)) {
        return 0; // negative and NaN
    }
    const double frames = std::floor(seconds * rate);
    if (frames >= static_cast<double>(maxFrames)) {
        return maxFrames * perFrame;
    }
    return static_cast<uint64_t>(frames) * perFrame;
}

bool channelSetVolume(uint32_t handle, float volume) {
    if (!isOpenStream(handle) || !std::isfinite(volume) || volume < 0.0f) {
        return false;
    }
    AudioOutputLock lock(state.output.get());
    state.stream.decoder.setVolume(volume);
    return true;
}

bool channelPlay(uint32_t handle, bool restart) {
    if (!isOpenStream(handle) || !state.outputStarted) {
        return false;
    }
    Stream& s = state.stream;
    if (s.playing && !restart) {
        return true;
    }
    // There is no pause on a stream, so playing always starts from the beginning.
    {
        AudioOutputLock lock(state.output.get());
        if (!s.decoder.rewind()) {
            return false;
        }
        s.timeline.reset();
        s.endHanded = false;
        s.playing = true;
    }
    if (state.output != nullptr && !state.outputLost && !state.output->begin(s.rate, feed)) {
        state.outputLost = true; // the output would not take the stream: play on in silence
    }
    s.smooth.reset();
    s.lastReturned = 0;
    s.ended = false;
    s.lastHeard = 0.0;
    s.heardMoved = Clock::now();
    silentStart(0, true);
    return true;
}

bool stop() {
    if (state.device == kNotInitialised) {
        return false;
    }
    if (!state.outputStarted) {
        return true;
    }
    state.outputStarted = false;
    if (state.output != nullptr && !state.outputLost) {
        state.output->pause(true);
    } else if (state.silent.running) {
        silentStart(silentFrames(Clock::now()), false);
    }
    return true;
}

bool streamFree(uint32_t handle) {
    if (!isOpenStream(handle)) {
        return false;
    }
    closeStream();
    state.silent = SilentClock{};
    return true;
}

bool free() {
    if (state.device == kNotInitialised) {
        return false;
    }
    state.output.reset(); // joins the output's thread
    state.outputLost = false;
    closeStream();
    state.device = kNotInitialised;
    state.outputStarted = false;
    state.silent = SilentClock{};
    return true;
}

int currentDevice() {
    return state.device;
}

const char* outputName() {
    if (state.device == kNotInitialised) {
        return "";
    }
    if (state.output == nullptr) {
        return "none";
    }
    return state.outputLost ? "lost" : state.output->name();
}

} // namespace audio
