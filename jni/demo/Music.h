#pragma once
// The music, and with it the show's only clock: the whole "music.ogg" in memory, played as a
// stream by the audio back-end. The stream reads from `file`, so the file outlives it.

#include <cstdint>
#include <string>

#include "loader/Asset.h"

class Music {
public:
    Music() = default;
    ~Music() { teardown(); }
    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;

    bool open(const std::string& name, uint64_t endMargin, float volume);
    void play();
    uint64_t positionBytes() const;
    double bytesToSeconds(uint64_t bytes) const;
    // Music time in ms for a byte position (truncated, low 32 bits).
    uint32_t positionMs(uint64_t bytes) const;
    // The length the demo is built with: seconds * 1000 truncated.
    int32_t lengthMs() const;
    // The frame loop ends once the position reaches this. A stream shorter than the margin
    // ends at its own end rather than never.
    uint64_t endPositionBytes() const;
    // True once the stream has stopped advancing: everything that decodes has been heard (a
    // damaged file can end long before its length). The show then ends as at the margin.
    bool ended() const;
    void teardown();

    uint32_t stream = 0xffffffffu;
    double lengthSeconds = 0.0;
    Asset file;
    uint64_t lengthBytes = 0;
    uint64_t endMarginBytes = 0;
};
