#include "Music.h"

#include "platform/Audio.h"
#include "progress/Progress.h"
#include "report/Errors.h"

bool Music::open(const std::string& name, uint64_t endMargin, float volume) {
    if (!file.Load(name)) {
        return false;
    }
    progressStep();
    if ((audio::getVersion() >> 16) != 0x0204) {
        reportError("BASSVERSION error");
        return false;
    }
    progressStep();
    // No output device is not fatal: device 0 plays nothing but keeps the clock.
    if (!audio::init(-1, audio::kSampleRate) && !audio::init(0, audio::kSampleRate)) {
        reportError("BASS_Init error");
        return false;
    }
    progressStep();
    if (!audio::start()) {
        reportError("BASS_Start error");
        return false;
    }
    progressStep();
    stream = audio::streamCreateMemory(file.data, file.size);
    if (stream == 0) {
        reportError("BASS_StreamCreateFile error : " + name);
        return false;
    }
    progressStep();
    lengthBytes = audio::channelGetLength(stream);
    endMarginBytes = endMargin;
    lengthSeconds = audio::channelBytes2Seconds(stream, lengthBytes);
    audio::channelSetVolume(stream, volume);
    return true;
}

void Music::play() {
    audio::channelPlay(stream, true);
}

uint64_t Music::positionBytes() const {
    return audio::channelGetPosition(stream);
}

double Music::bytesToSeconds(uint64_t bytes) const {
    return audio::channelBytes2Seconds(stream, bytes);
}

uint32_t Music::positionMs(uint64_t bytes) const {
    const auto ms = static_cast<int64_t>(bytesToSeconds(bytes) * 1000.0);
    return static_cast<uint32_t>(ms);
}

int32_t Music::lengthMs() const {
    return static_cast<int32_t>(lengthSeconds * 1000.0);
}

uint64_t Music::endPositionBytes() const {
    return lengthBytes > endMarginBytes ? lengthBytes - endMarginBytes : lengthBytes;
}

bool Music::ended() const {
    return audio::channelEnded(stream);
}

void Music::teardown() {
    if (stream != 0 && audio::stop() && audio::streamFree(stream)) {
        stream = 0;
        audio::free();
    }
    // A failed stream leaves the library open; close it too so nothing outlives the music.
    if (stream == 0 && audio::currentDevice() != 1) {
        audio::free();
    }
    file.release();
    file.name.clear();
}
