#include "platform/Audio.h"

// One output and one stream, both process-wide. The public calls come from the main thread;
// SDL's callback thread decodes and fills the device buffer. What the callback reads about
// the stream is guarded by SDL's device lock; the clock snapshot it leaves for position reads
// has its own small mutex, so a position read never waits for a decode.

#include <SDL.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

namespace audio {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kChannels = 2;
constexpr int kBufferFrames = 1024;
constexpr int kDeviceDefault = -1;
constexpr int kDeviceNoSound = 0;
constexpr int kNotInitialised = 1;
// Raw decoder output per read; mono doubles in size once spread to stereo.
constexpr int kRawBytes = 4096;
constexpr int kPendingFrames = kRawBytes / 2;
// A damaged stream can report many holes in a row; past this, the rest of the buffer is silent.
constexpr int kMaxHolesPerFill = 64;

// The encoded bytes belong to the caller and must outlive the stream.
struct MemorySource {
    const unsigned char* data = nullptr;
    uint64_t size = 0;
    uint64_t cursor = 0;
};

struct Stream {
    bool open = false;
    uint32_t handle = 0;
    MemorySource source;
    OggVorbis_File file{};
    uint64_t lengthFrames = 0;
    // Written by the main thread under the device lock, read by the callback.
    bool playing = false;
    bool ended = false;
    float volume = 1.0f;
    uint64_t framesHanded = 0; // stream frames given to the device so far
    // Decoded stereo frames not yet handed over (a decoder read can exceed a device buffer).
    int16_t pending[kPendingFrames * kChannels];
    int pendingCount = 0;
    int pendingPos = 0;
    char raw[kRawBytes];
};

// Left by each callback: the buffer just handed starts at streamStart and holds streamFrames
// stream frames (silence after them); it is assumed to reach the speaker one buffer later,
// so from handedAt on the audible position walks through it at the sample rate.
struct ClockSnapshot {
    uint64_t streamStart = 0;
    uint64_t streamFrames = 0;
    Clock::time_point handedAt{};
    uint64_t lastReturned = 0; // frames; positions never go backwards
};

// The "no sound" output has no callback: the clock alone moves the position.
struct SilentClock {
    bool running = false;
    Clock::time_point since{};
    uint64_t baseFrames = 0;
};

struct State {
    int device = kNotInitialised;
    bool outputStarted = false;
    SDL_AudioDeviceID sdlDevice = 0;
    uint32_t nextHandle = 1;
    Stream stream;
    std::mutex clockMutex;
    ClockSnapshot clock;
    SilentClock silent;
};

State state;

// Holds SDL's device lock when a real output (and so a callback) exists.
class DeviceLock {
public:
    DeviceLock() : device_(state.sdlDevice) {
        if (device_ != 0) {
            SDL_LockAudioDevice(device_);
        }
    }
    ~DeviceLock() {
        if (device_ != 0) {
            SDL_UnlockAudioDevice(device_);
        }
    }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

private:
    SDL_AudioDeviceID device_;
};

// Memory callbacks for vorbisfile
size_t memoryRead(void* out, size_t size, size_t count, void* datasource) {
    auto* source = static_cast<MemorySource*>(datasource);
    if (size == 0 || count == 0) {
        return 0;
    }
    const uint64_t left = source->size - source->cursor;
    const uint64_t items = std::min<uint64_t>(count, left / size);
    std::memcpy(out, source->data + source->cursor, static_cast<size_t>(items * size));
    source->cursor += items * size;
    return static_cast<size_t>(items);
}

int memorySeek(void* datasource, ogg_int64_t offset, int whence) {
    auto* source = static_cast<MemorySource*>(datasource);
    const int64_t size = static_cast<int64_t>(source->size);
    int64_t base = 0;
    switch (whence) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = static_cast<int64_t>(source->cursor);
        break;
    case SEEK_END:
        base = size;
        break;
    default:
        return -1;
    }
    // Both terms lie in [-size, size] once checked, so the sum cannot overflow.
    if (offset < -size || offset > size) {
        return -1;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > size) {
        return -1;
    }
    source->cursor = static_cast<uint64_t>(target);
    return 0;
}

long memoryTell(void* datasource) {
    return static_cast<long>(static_cast<MemorySource*>(datasource)->cursor);
}

uint64_t framesForSeconds(double seconds) {
    return static_cast<uint64_t>(std::max(0.0, seconds) * kSampleRate);
}

double secondsSince(Clock::time_point then, Clock::time_point now) {
    return std::chrono::duration<double>(now - then).count();
}

bool isOpenStream(uint32_t handle) {
    return handle != 0 && state.stream.open && state.stream.handle == handle;
}

// Decoding (callback thread, device lock held; also the main thread for no-sound seeks)

// Refills `pending` with one decoder read; false at the end of the stream or on an error
// that cannot be skipped. Sets `ended` in that case.
bool decodeMore(Stream& s, int& holes) {
    for (;;) {
        int link = 0;
        const int bigEndian = SDL_BYTEORDER == SDL_BIG_ENDIAN ? 1 : 0;
        const long got = ov_read(&s.file, s.raw, kRawBytes, bigEndian, 2, 1, &link);
        if (got == OV_HOLE && ++holes <= kMaxHolesPerFill) {
            continue;
        }
        if (got == OV_HOLE) {
            return false; // silent for now, try again next buffer
        }
        if (got <= 0) {
            s.ended = true;
            return false;
        }
        const vorbis_info* info = ov_info(&s.file, link);
        const auto* samples = reinterpret_cast<const int16_t*>(s.raw);
        if (info != nullptr && info->channels == 2) {
            s.pendingCount = static_cast<int>(got / 4);
            std::memcpy(s.pending, samples, static_cast<size_t>(s.pendingCount) * 4);
        } else if (info != nullptr && info->channels == 1) {
            s.pendingCount = static_cast<int>(got / 2);
            for (int i = 0; i < s.pendingCount; ++i) {
                s.pending[2 * i] = samples[i];
                s.pending[2 * i + 1] = samples[i];
            }
        } else {
            s.ended = true; // links are checked when the stream is made; never play garbage
            return false;
        }
        s.pendingPos = 0;
        return true;
    }
}

// Writes up to `frames` stereo frames of the stream into `out`; returns how many.
int fillFromStream(Stream& s, int16_t* out, int frames) {
    int written = 0;
    int holes = 0;
    while (written < frames) {
        if (s.pendingPos >= s.pendingCount && (s.ended || !decodeMore(s, holes))) {
            break;
        }
        const int count = std::min(frames - written, s.pendingCount - s.pendingPos);
        const int16_t* from = s.pending + s.pendingPos * kChannels;
        int16_t* to = out + written * kChannels;
        if (s.volume == 1.0f) {
            std::memcpy(to, from, static_cast<size_t>(count) * kBytesPerFrame);
        } else {
            for (int i = 0; i < count * kChannels; ++i) {
                const float scaled = static_cast<float>(from[i]) * s.volume;
                to[i] = static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
            }
        }
        s.pendingPos += count;
        written += count;
    }
    return written;
}

void SDLCALL fillDeviceBuffer(void* /*userdata*/, Uint8* bytes, int length) {
    Stream& s = state.stream;
    const int frames = length / kBytesPerFrame;
    auto* out = reinterpret_cast<int16_t*>(bytes);
    const uint64_t start = s.framesHanded;
    int written = 0;
    if (s.open && s.playing) {
        written = fillFromStream(s, out, frames);
    }
    std::memset(bytes + written * kBytesPerFrame, 0,
                static_cast<size_t>(length - written * kBytesPerFrame));
    s.framesHanded += static_cast<uint64_t>(written);

    std::lock_guard<std::mutex> lock(state.clockMutex);
    state.clock.streamStart = start;
    state.clock.streamFrames = static_cast<uint64_t>(written);
    state.clock.handedAt = Clock::now();
}

// Clock

void resetClock(uint64_t frames) {
    std::lock_guard<std::mutex> lock(state.clockMutex);
    state.clock.streamStart = frames;
    state.clock.streamFrames = 0;
    state.clock.handedAt = Clock::now();
    state.clock.lastReturned = frames;
}

uint64_t silentFrames(Clock::time_point now) {
    const SilentClock& c = state.silent;
    uint64_t frames = c.baseFrames;
    if (c.running) {
        frames += framesForSeconds(secondsSince(c.since, now));
    }
    return std::min(frames, state.stream.lengthFrames);
}

uint64_t deviceFrames(Clock::time_point now) {
    const ClockSnapshot& c = state.clock;
    const uint64_t walked = framesForSeconds(secondsSince(c.handedAt, now));
    // Never ahead of what was handed: a late callback holds the position, it does not guess.
    return c.streamStart + std::min(walked, c.streamFrames);
}

void closeStream() {
    Stream& s = state.stream;
    if (s.open) {
        DeviceLock lock;
        ov_clear(&s.file);
        s.open = false;
        s.playing = false;
        s.handle = 0;
    }
}

} // namespace

uint32_t getVersion() {
    return kVersion;
}

bool init(int device, int frequency) {
    if (state.device != kNotInitialised || frequency != kSampleRate) {
        return false;
    }
    if (device == kDeviceNoSound) {
        state.device = kDeviceNoSound;
        state.outputStarted = true;
        state.silent = SilentClock{};
        return true;
    }
    if (device != kDeviceDefault) {
        return false;
    }
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        return false;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = kSampleRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kChannels;
    wanted.samples = kBufferFrames;
    wanted.callback = fillDeviceBuffer;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts if the hardware wants another format.
    const SDL_AudioDeviceID opened = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (opened == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    state.sdlDevice = opened;
    state.device = kDeviceDefault;
    state.outputStarted = true;
    resetClock(0);
    SDL_PauseAudioDevice(opened, 0);
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
    if (state.sdlDevice != 0) {
        SDL_PauseAudioDevice(state.sdlDevice, 0);
    } else if (state.stream.open && state.stream.playing) {
        state.silent.running = true;
        state.silent.since = Clock::now();
    }
    return true;
}

uint32_t streamCreateMemory(const void* data, uint64_t length) {
    Stream& s = state.stream;
    if (state.device == kNotInitialised || s.open || data == nullptr || length == 0 ||
        length > static_cast<uint64_t>(std::numeric_limits<long>::max())) {
        return 0;
    }
    const ov_callbacks callbacks{memoryRead, memorySeek, nullptr, memoryTell};
    DeviceLock lock; // the callback looks at `open`; keep it out while the stream is made
    s.source = MemorySource{static_cast<const unsigned char*>(data), length, 0};
    s.file = OggVorbis_File{};
    if (ov_open_callbacks(&s.source, &s.file, nullptr, 0, callbacks) < 0) {
        return 0; // vorbisfile has already cleared the half-opened file
    }
    // Every link must be 44100 Hz mono or stereo: there is no resampler behind this.
    bool playable = ov_seekable(&s.file) != 0;
    const long links = ov_streams(&s.file);
    for (long i = 0; playable && i < links; ++i) {
        const vorbis_info* info = ov_info(&s.file, static_cast<int>(i));
        playable = info != nullptr && info->rate == kSampleRate &&
                   (info->channels == 1 || info->channels == 2);
    }
    const ogg_int64_t total = playable ? ov_pcm_total(&s.file, -1) : -1;
    if (total < 0) {
        ov_clear(&s.file);
        return 0;
    }
    s.lengthFrames = static_cast<uint64_t>(total);
    s.handle = state.nextHandle++;
    if (state.nextHandle == 0) {
        state.nextHandle = 1;
    }
    s.open = true;
    s.playing = false;
    s.ended = false;
    s.volume = 1.0f;
    s.framesHanded = 0;
    s.pendingCount = 0;
    s.pendingPos = 0;
    state.silent = SilentClock{};
    resetClock(0);
    return s.handle;
}

uint64_t channelGetLength(uint32_t handle) {
    return isOpenStream(handle) ? state.stream.lengthFrames * kBytesPerFrame : 0;
}

uint64_t channelGetPosition(uint32_t handle) {
    if (!isOpenStream(handle)) {
        return 0;
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(state.clockMutex);
    uint64_t frames = state.sdlDevice != 0 ? deviceFrames(now) : silentFrames(now);
    frames = std::min(std::max(frames, state.clock.lastReturned), state.stream.lengthFrames);
    state.clock.lastReturned = frames;
    return frames * kBytesPerFrame;
}

// A pure unit conversion: every stream here is 44100 Hz stereo 16-bit, so it cannot fail,
// and callers may truncate the result to an unsigned count without a negative surprise.
double channelBytes2Seconds(uint32_t /*handle*/, uint64_t bytes) {
    return static_cast<double>(bytes / kBytesPerFrame) / kSampleRate;
}

uint64_t channelSeconds2Bytes(uint32_t /*handle*/, double seconds) {
    constexpr uint64_t kMaxFrames = std::numeric_limits<uint64_t>::max() / kBytesPerFrame;
    if (!(seconds > 0.0)) {
        return 0; // negative and NaN
    }
    const double frames = std::floor(seconds * kSampleRate);
    if (frames >= static_cast<double>(kMaxFrames)) {
        return kMaxFrames * kBytesPerFrame;
    }
    return static_cast<uint64_t>(frames) * kBytesPerFrame;
}

bool channelSetVolume(uint32_t handle, float volume) {
    if (!isOpenStream(handle) || !std::isfinite(volume) || volume < 0.0f) {
        return false;
    }
    DeviceLock lock;
    state.stream.volume = volume;
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
    const Clock::time_point now = Clock::now();
    if (restart) {
        DeviceLock lock;
        if (ov_pcm_seek(&s.file, 0) != 0) {
            return false;
        }
        s.ended = false;
        s.framesHanded = 0;
        s.pendingCount = 0;
        s.pendingPos = 0;
        s.playing = true;
        state.silent.baseFrames = 0;
        resetClock(0);
    } else {
        DeviceLock lock;
        s.playing = true;
    }
    state.silent.running = true;
    state.silent.since = now;
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
    if (state.sdlDevice != 0) {
        SDL_PauseAudioDevice(state.sdlDevice, 1); // returns once the callback has finished
    } else if (state.silent.running) {
        state.silent.baseFrames = silentFrames(Clock::now());
        state.silent.running = false;
    }
    return true;
}

bool streamFree(uint32_t handle) {
    if (!isOpenStream(handle)) {
        return false;
    }
    closeStream();
    state.silent = SilentClock{};
    resetClock(0);
    return true;
}

bool free() {
    if (state.device == kNotInitialised) {
        return false;
    }
    if (state.sdlDevice != 0) {
        SDL_CloseAudioDevice(state.sdlDevice); // joins the callback thread
        state.sdlDevice = 0;
    }
    closeStream();
    if (state.device == kDeviceDefault) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    state.device = kNotInitialised;
    state.outputStarted = false;
    state.silent = SilentClock{};
    resetClock(0);
    return true;
}

int currentDevice() {
    return state.device;
}

} // namespace audio
