#pragma once
// The music sync state: the pattern number from fixed arithmetic, one level per ".rms" track
// (16-bit samples every 10 ms) and the latest note value per channel from "music.msd".
// Updated once per frame before any scene draws; scenes only read it.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct SyncEvent {
    uint32_t tick;
    uint8_t kind;
    uint8_t channel;
    uint8_t value;
    uint8_t spare;
};
static_assert(sizeof(SyncEvent) == 8, "music.msd records are 8 bytes");

constexpr int kSyncMaxTracks = 26;
constexpr int kSyncChannels = 26;
constexpr double kSyncMsPerTick = 5.6818;
// Every frame scans every event, so their number is bounded (the show's own file has a few
// thousand).
constexpr uint32_t kSyncMaxEvents = 1000000;

class SyncTracks {
public:
    // Fails (with a message) when more than kSyncMaxTracks track files are registered or the
    // event file holds more than kSyncMaxEvents events.
    bool load(const std::string& eventFileName);
    // A time past the end of a track reads level 0; events on channels 26 and up are ignored.
    void update(uint32_t t);

    // The pattern arithmetic alone: pattern 12 is cut short so 13 starts at 106901 ms.
    static int32_t patternAt(uint32_t t);

    std::vector<SyncEvent> events;
    std::vector<std::string> trackFiles;
    int32_t pattern = 0;
    std::array<float, kSyncMaxTracks> trackLevels{};
    std::array<std::vector<uint16_t>, kSyncMaxTracks> trackSamples;
    std::array<int32_t, kSyncChannels> channelNotes{};
};
