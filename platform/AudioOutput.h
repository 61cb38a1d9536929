#pragma once
// A sound output: it pulls 16-bit stereo frames from a feed on a thread of its own and says
// how far the sound it was handed has got at the speaker. Two renditions: the desktop's sound
// server (AudioOutputPulse.cpp) and SDL's drivers, ALSA on a bare system (AudioOutputSdl.cpp).
// Only the audio back-end (Audio.cpp) makes and drives them.

#include <cstdint>
#include <memory>

class AudioOutput {
public:
    // Fills all `frames` frames (silence past the music); `outputIndex` counts the output's
    // frames since the last begin. Called on the output's thread with its lock held.
    using Feed = void (*)(int16_t* out, int frames, uint64_t outputIndex);

    virtual ~AudioOutput() = default;

    // A fresh run from output frame 0, sound at `rate` if the output takes it (see rate()).
    virtual bool begin(int rate, Feed feed) = 0;
    virtual void pause(bool paused) = 0;

    // Output frames played at the speaker now, the output's own latency taken off; false while
    // nothing is known yet. Call with the lock held.
    virtual bool playedFrames(double& frames) = 0;
    // True once the output is gone (the server went away, the device was unplugged).
    virtual bool lost() const = 0;
    virtual int rate() const = 0;
    virtual const char* name() const = 0;

    // Keeps the feed out while the caller changes what it reads.
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

// Null when no sound server answers.
std::unique_ptr<AudioOutput> openSoundServerOutput(const char* clientName);
// Null when SDL finds no device; `rate` is a wish, the device may choose another.
std::unique_ptr<AudioOutput> openSdlOutput(int rate);

// Holds an output's lock for a scope; does nothing without an output.
class AudioOutputLock {
public:
    explicit AudioOutputLock(AudioOutput* output) : held(output) {
        if (held != nullptr) {
            held->lock();
        }
    }
    ~AudioOutputLock() {
        if (held != nullptr) {
            held->unlock();
        }
    }
    AudioOutputLock(const AudioOutputLock&) = delete;
    AudioOutputLock& operator=(const AudioOutputLock&) = delete;

private:
    AudioOutput* held;
};
