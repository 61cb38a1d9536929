// The audio back-end on the web: the browser decodes the Ogg Vorbis block (Web Audio's
// decodeAudioData) and plays it through an AudioContext running at 44100 Hz, so positions
// and lengths are the same 16-bit stereo frames as on the desktop.
//
// The position is what is heard: the context's output timestamp (its time minus the output
// latency), interpolated with the page's clock between the audio thread's updates, never
// going backwards. Device 0 ("no sound") decodes only for the length; its position follows
// the page's clock.

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

struct State {
    int device = kNotInitialised;
    bool outputStarted = false;
    bool open = false;
    uint64_t lengthFrames = 0;
    uint64_t lastFrames = 0;
};

State state;

// Module.webAudio: the context (null for no sound), the decoded buffer, the playing source
// and the clock's anchors.
EM_JS(int, jsInit, (int withSound), {
    var a = { context: null, buffer: null, source: null, gain: null, volume: 1.0,
              startTime: -1, startPage: -1, lastHeard: 0, lastPage: 0, lastContext: -1 };
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

// Decodes the block; resolves to its frame count, or -1 when the browser cannot decode it.
EM_ASYNC_JS(double, jsDecode, (const void* data, double length), {
    var a = Module.webAudio;
    var bytes = HEAPU8.slice(data, data + length).buffer;
    var context = a.context;
    if (!context) {
        var Offline = window.OfflineAudioContext || window.webkitOfflineAudioContext;
        if (!Offline) {
            return -1;
        }
        context = new Offline(2, 1, 44100);
    }
    try {
        a.buffer = await new Promise(function(resolve, reject) {
            var p = context.decodeAudioData(bytes, resolve, reject);
            if (p && p.catch) {
                p.catch(reject);
            }
        });
    } catch (e) {
        console.error("music.ogg cannot be decoded by this browser: " + e);
        if (Module.page && Module.page.noOggVorbis) {
            Module.page.noOggVorbis();
        }
        a.buffer = null;
        return -1;
    }
    return a.buffer.length;
});

EM_JS(void, jsPlay, (), {
    var a = Module.webAudio;
    if (a.source) {
        a.source.onended = null;
        a.source.stop();
        a.source = null;
    }
    a.lastHeard = 0;
    a.lastContext = -1;
    a.startPage = performance.now();
    if (!a.context) {
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
    if (!a.context) {
        return a.startPage < 0 ? 0 : (now - a.startPage) / 1000;
    }
    if (a.startTime < 0) {
        return 0;
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

bool isOpenStream(uint32_t handle) { return state.open && handle == kHandle; }

}  // namespace

uint32_t getVersion() { return kVersion; }

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
    const double frames = jsDecode(data, static_cast<double>(length));
    if (!(frames >= 0.0)) {
        return 0;
    }
    state.lengthFrames = static_cast<uint64_t>(frames);
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

int currentDevice() { return state.device; }

}  // namespace audio
