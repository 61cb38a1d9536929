// SDL's drivers, for a system without a sound server: ALSA on a bare machine, or SDL's dummy
// and disk drivers when asked for. SDL does not say how much sound its driver holds, so the
// delay is counted from how SDL feeds it: its ALSA driver keeps two buffers queued behind the
// callback, its dummy and disk drivers none.

#include "platform/AudioOutput.h"

#include <SDL.h>
#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBufferFrames = 1024;

// ALSA prints its own complaints (no card, no configuration) on stderr; ours say enough.
void quietAlsa(const char* /*file*/, int /*line*/, const char* /*function*/, int /*error*/,
               const char* /*format*/, ...) {}

class SdlOutput final : public AudioOutput {
public:
    SdlOutput() = default;
    ~SdlOutput() override;
    SdlOutput(const SdlOutput&) = delete;
    SdlOutput& operator=(const SdlOutput&) = delete;

    bool open(int rate);

    bool begin(int rate, Feed newFeed) override;
    void pause(bool paused) override { SDL_PauseAudioDevice(device, paused ? 1 : 0); }
    bool playedFrames(double& frames) override;
    bool lost() const override {
        return SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED && !closing;
    }
    int rate() const override { return deviceRate; }
    const char* name() const override { return driver; }
    void lock() override { SDL_LockAudioDevice(device); }
    void unlock() override { SDL_UnlockAudioDevice(device); }

private:
    static void SDLCALL fill(void* self, Uint8* bytes, int length);

    SDL_AudioDeviceID device = 0;
    bool subsystem = false;
    bool closing = false;
    const char* driver = "none";
    int deviceRate = 0;
    double queuedFrames = 0.0; // held by the driver behind the buffer being filled
    Feed feed = nullptr;
    // Left by each callback, read under the lock.
    uint64_t handed = 0; // output frames handed since begin, before the latest buffer
    uint64_t latestFrames = 0;
    Clock::time_point latestAt{};
    bool anyHanded = false;
};

SdlOutput::~SdlOutput() {
    closing = true;
    if (device != 0) {
        SDL_CloseAudioDevice(device); // joins the callback thread
    }
    if (subsystem) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

bool SdlOutput::open(int rate) {
    snd_lib_error_set_handler(quietAlsa);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        return false;
    }
    subsystem = true;
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = kBufferFrames;
    wanted.callback = fill;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // The device's own rate is welcome (the decoder resamples); the format is ours.
    device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device == 0) {
        return false;
    }
    deviceRate = obtained.freq;
    driver = SDL_GetCurrentAudioDriver();
    if (driver != nullptr && std::strcmp(driver, "alsa") == 0) {
        queuedFrames = 2.0 * obtained.samples;
    }
    if (driver == nullptr) {
        driver = "sdl";
    }
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void SDLCALL SdlOutput::fill(void* self, Uint8* bytes, int length) {
    auto* output = static_cast<SdlOutput*>(self);
    const int frames = length / 4;
    if (output->feed != nullptr) {
        output->feed(reinterpret_cast<int16_t*>(bytes), frames,
                     output->handed + output->latestFrames);
    } else {
        std::memset(bytes, 0, static_cast<size_t>(length));
    }
    output->handed += output->latestFrames;
    output->latestFrames = static_cast<uint64_t>(frames);
    output->latestAt = Clock::now();
    output->anyHanded = true;
}

bool SdlOutput::begin(int /*rate*/, Feed newFeed) {
    lock();
    feed = newFeed;
    handed = 0;
    latestFrames = 0;
    anyHanded = false;
    unlock();
    return true;
}

bool SdlOutput::playedFrames(double& frames) {
    if (!anyHanded) {
        return false;
    }
    // The latest buffer starts at the speaker `queuedFrames` after the callback took it and
    // plays at the device's rate; the position waits there if the next callback is late.
    const double since = std::chrono::duration<double>(Clock::now() - latestAt).count();
    const double walked = std::min(since * deviceRate, static_cast<double>(latestFrames));
    frames = std::max(0.0, static_cast<double>(handed) + walked - queuedFrames);
    return true;
}

} // namespace

std::unique_ptr<AudioOutput> openSdlOutput(int rate) {
    auto output = std::make_unique<SdlOutput>();
    if (!output->open(rate)) {
        return nullptr;
    }
    return output;
}
