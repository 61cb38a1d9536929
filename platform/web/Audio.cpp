// The audio back-end on the web: the browser decodes the Ogg Vorbis block (Web Audio's
// decodeAudioData) and plays it through an AudioContext running at 44100 Hz, so positions
// and lengths are the same 16-bit stereo frames as on the desktop. The length comes from the
// stream's pages at once; the decoding runs in the background while the show loads, and
// playing waits for it.
//
// The position is what is heard: the context's output timestamp (its time minus the output
// latency), interpolated with the page's clock between the audio thread's updates, never
// going backwards. Device 0 ("no sound") decodes nothing; its position follows the page's
// clock.

#include "platform/Audio.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <emscripten.h>

namespace audio {

namespace {

constexpr int kNotInitialised = 1;
constexpr int kDeviceDefault = -1;
constexpr int kDeviceNoSound = 0;
constexpr uint32_t kHandle = 1;
// The context plays 16-bit stereo at kSampleRate: positions count those frames.
constexpr uint64_t kBytesPerFrame = 4;

struct State {
    int device = kNotInitialised;
    bool outputStarted = false;
    bool open = false;
    uint64_t lengthFrames = 0;
    uint64_t lastFrames = 0;
};

State state;

// clang-format off
// Module.webAudio: the context (null for no sound), the decoded buffer, the playing source
// and the clock's anchors.
EM_JS(int, jsInit, (int withSound), {
    var a = { context: null, buffer: null, decoding: null, source: null, gain: null,
              volume: 1.0, startTime: -1, startPage: -1, lastPage: 0, lastContext: -1 };
    // A single frame for a link or a test plays nothing.
    if (withSound && Module.page && Module.page.atTime >= 0) {
        return 0;
    }
    if (withSound) {
        var Context = window.AudioContext || window.webkitAudioContext;
        if (!Context) {
            return 0;
        }
        try {
            a.context = new Context({ sampleRate: 44100, latencyHint: "interactive" });
        } catch (e) {
            console.error("AudioContext: " + e);
            return 0;
        }
    }
    Module.webAudio = a;
    return 1;
});

EM_JS(void, jsResume, (), {
    var a = Module.webAudio;
    if (a && a.context && a.context.state === "suspended") {
        a.context.resume();
    }
});

// Starts decoding the block in the background; playing waits for it.
EM_JS(void, jsStartDecoding, (const void* data, double length), {
    var a = Module.webAudio;
    var bytes = HEAPU8.slice(data, data + length).buffer;
    a.buffer = null;
    a.decoding = new Promise(function(resolve, reject) {
        var p = a.context.decodeAudioData(bytes, resolve, reject);
        if (p && p.catch) {
            p.catch(reject);
        }
    }).then(function(buffer) {
        a.buffer = buffer;
        return true;
    }, function(e) {
        console.error("music.ogg cannot be decoded by this browser: " + e);
        if (Module.page && Module.page.noOggVorbis) {
            Module.page.noOggVorbis();
        }
        return false;
    });
});

// Starts the music once decoded; without a decoded buffer the clock runs silently.
EM_ASYNC_JS(void, jsPlay, (), {
    var a = Module.webAudio;
    if (a.decoding) {
        await a.decoding;
    }
    if (a.source) {
        a.source.onended = null;
        a.source.stop();
        a.source = null;
    }
    a.lastContext = -1;
    a.startPage = performance.now();
    if (!a.context || !a.buffer) {
        a.startTime = -1;
        return;
    }
    a.gain = a.context.createGain();
    a.gain.gain.value = a.volume;
    a.gain.connect(a.context.destination);
    a.source = a.context.createBufferSource();
    a.source.buffer = a.buffer;
    a.source.connect(a.gain);
    a.startTime = a.context.currentTime;
    a.source.start(a.startTime);
});

// Seconds of the music heard so far.
EM_JS(double, jsHeardSeconds, (), {
    var a = Module.webAudio;
    var now = performance.now();
    if (!a.context || a.startTime < 0) {
        return a.startPage < 0 ? 0 : (now - a.startPage) / 1000;
    }
    var c = a.context;
    var heard;
    var stamp = c.getOutputTimestamp ? c.getOutputTimestamp() : null;
    if (stamp && stamp.performanceTime > 0) {
        heard = stamp.contextTime + Math.min((now - stamp.performanceTime) / 1000, 0.1);
    } else {
        // The context's time moves in blocks: carry it on with the page's clock in between,
        // by no more than a block or two.
        if (c.currentTime !== a.lastContext) {
            a.lastContext = c.currentTime;
            a.lastPage = now;
        }
        heard = c.currentTime + Math.min((now - a.lastPage) / 1000, 0.05) -
                (c.outputLatency || 0) - (c.baseLatency || 0);
    }
    return Math.max(0, heard - a.startTime);
});

EM_JS(void, jsSetVolume, (double volume), {
    var a = Module.webAudio;
    a.volume = volume;
    if (a.gain) {
        a.gain.gain.value = volume;
    }
});

EM_JS(void, jsStop, (), {
    var a = Module.webAudio;
    if (a && a.source) {
        a.source.stop();
        a.source = null;
    }
});

EM_JS(void, jsFree, (), {
    var a = Module.webAudio;
    if (a && a.context) {
        a.context.close();
    }
    Module.webAudio = null;
});
// clang-format on

bool isOpenStream(uint32_t handle) {
    return state.open && handle == kHandle;
}

uint64_t readLe64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = value << 8 | p[i];
    }
    return value;
}

// The stream's length in frames, as a decoder counts it: the granule position of the last
// Ogg page that ends a packet. Every page is walked from the start, checking each header,
// so a damaged block is refused here rather than found later. 0 when the block is not an
// Ogg stream with at least one such page.
uint64_t oggLengthFrames(const uint8_t* data, uint64_t size) {
    constexpr uint64_t kHeader = 27;
    constexpr uint64_t kNoGranule = ~uint64_t{0};
    uint64_t at = 0;
    uint64_t frames = 0;
    while (at + kHeader <= size) {
        const uint8_t* page = data + at;
        if (page[0] != 'O' || page[1] != 'g' || page[2] != 'g' || page[3] != 'S' || page[4] != 0) {
            return 0;
        }
        const uint64_t segments = page[26];
        if (at + kHeader + segments > size) {
            return 0;
        }
        uint64_t body = 0;
        for (uint64_t i = 0; i < segments; ++i) {
            body += page[kHeader + i];
        }
        const uint64_t next = at + kHeader + segments + body;
        if (next > size) {
            return 0;
        }
        const uint64_t granule = readLe64(page + 6);
        if (granule != kNoGranule && granule < (uint64_t{1} << 48)) {
            frames = granule;
        }
        at = next;
    }
    return at == size ? frames : 0;
}

} // namespace

uint32_t getVersion() {
    return kVersion;
}

bool init(int device, int frequency) {
    if (state.device != kNotInitialised || frequency != kSampleRate) {
        return false;
    }
    if (device != kDeviceDefault && device != kDeviceNoSound) {
        return false;
    }
    if (jsInit(device == kDeviceDefault ? 1 : 0) == 0) {
        return false;
    }
    state.device = device;
    state.outputStarted = true;
    return true;
}

bool start() {
    if (state.device == kNotInitialised) {
        return false;
    }
    state.outputStarted = true;
    jsResume();
    return true;
}

uint32_t streamCreateMemory(const void* data, uint64_t length) {
    if (state.device == kNotInitialised || state.open || data == nullptr || length == 0 ||
        length > std::numeric_limits<uint32_t>::max()) {
        return 0;
    }
    const uint64_t frames = oggLengthFrames(static_cast<const uint8_t*>(data), length);
    if (frames == 0) {
        return 0;
    }
    if (state.device == kDeviceDefault) {
        jsStartDecoding(data, static_cast<double>(length));
    }
    state.lengthFrames = frames;
    state.lastFrames = 0;
    state.open = true;
    return kHandle;
}

uint64_t channelGetLength(uint32_t handle) {
    return isOpenStream(handle) ? state.lengthFrames * kBytesPerFrame : 0;
}

uint64_t channelGetPosition(uint32_t handle) {
    if (!isOpenStream(handle)) {
        return 0;
    }
    const double seconds = jsHeardSeconds();
    uint64_t frames = seconds > 0.0 ? static_cast<uint64_t>(std::floor(seconds * kSampleRate)) : 0;
    frames = std::min(std::max(frames, state.lastFrames), state.lengthFrames);
    state.lastFrames = frames;
    return frames * kBytesPerFrame;
}

bool channelEnded(uint32_t handle) {
    return isOpenStream(handle) && state.lastFrames >= state.lengthFrames;
}

double channelBytes2Seconds(uint32_t /*handle*/, uint64_t bytes) {
    return static_cast<double>(bytes / kBytesPerFrame) / kSampleRate;
}

uint64_t channelSeconds2Bytes(uint32_t /*handle*/, double seconds) {
    constexpr uint64_t kMaxFrames = std::numeric_limits<uint64_t>::max() / kBytesPerFrame;
    if (!(seconds > 0.0)) {
        return 0;
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
    jsSetVolume(volume);
    return true;
}

bool channelPlay(uint32_t handle, bool /*restart*/) {
    if (!isOpenStream(handle) || !state.outputStarted) {
        return false;
    }
    state.lastFrames = 0;
    jsPlay();
    return true;
}

bool stop() {
    if (state.device == kNotInitialised) {
        return false;
    }
    state.outputStarted = false;
    jsStop();
    return true;
}

bool streamFree(uint32_t handle) {
    if (!isOpenStream(handle)) {
        return false;
    }
    jsStop();
    state.open = false;
    state.lengthFrames = 0;
    state.lastFrames = 0;
    return true;
}

bool free() {
    if (state.device == kNotInitialised) {
        return false;
    }
    jsFree();
    state = State{};
    return true;
}

int currentDevice() {
    return state.device;
}

} // namespace audio
