#include "sync/SyncTracks.h"

#include "loader/Asset.h"
#include "report/Errors.h"

bool SyncTracks::load(const std::string& eventFileName) {
    if (trackFiles.size() > static_cast<size_t>(kSyncMaxTracks)) {
        reportError("Too many sync tracks : " + std::to_string(trackFiles.size()));
        return false;
    }

    Asset eventAsset;
    if (!eventAsset.Load(eventFileName)) {
        return false;
    }
    // Little-endian 8-byte records; a trailing partial record is ignored.
    const uint32_t eventCount = eventAsset.size / 8;
    if (eventCount > kSyncMaxEvents) {
        reportError("Sync event count error : " + eventFileName);
        return false;
    }
    events.resize(eventCount);
    for (uint32_t i = 0; i < eventCount; ++i) {
        const uint8_t* record = eventAsset.data + static_cast<size_t>(i) * 8;
        SyncEvent& event = events[i];
        event.tick = static_cast<uint32_t>(record[0]) | static_cast<uint32_t>(record[1]) << 8 |
                     static_cast<uint32_t>(record[2]) << 16 |
                     static_cast<uint32_t>(record[3]) << 24;
        event.kind = record[4];
        event.channel = record[5];
        event.value = record[6];
        event.spare = record[7];
    }

    for (size_t track = 0; track < trackFiles.size(); ++track) {
        trackLevels[track] = 0.0f;
        Asset trackAsset;
        if (!trackAsset.Load(trackFiles[track])) {
            return false;
        }
        const uint32_t sampleCount = trackAsset.size / 2;
        std::vector<uint16_t>& samples = trackSamples[track];
        samples.resize(sampleCount);
        for (uint32_t i = 0; i < sampleCount; ++i) {
            samples[i] =
                static_cast<uint16_t>(trackAsset.data[2 * static_cast<size_t>(i)] |
                                      trackAsset.data[2 * static_cast<size_t>(i) + 1] << 8);
        }
    }
    return true;
}

int32_t SyncTracks::patternAt(uint32_t t) {
    if (t > 106900u) {
        return static_cast<int32_t>((t - 2176u) / 8727u + 1u);
    }
    return static_cast<int32_t>(t / 8727u);
}

void SyncTracks::update(uint32_t t) {
    pattern = patternAt(t);

    // Past the end of a track the level is 0: the tracks are meant to cover the whole music.
    const uint32_t sampleIndex = t / 10u;
    for (size_t track = 0; track < trackFiles.size() && track < trackSamples.size(); ++track) {
        const std::vector<uint16_t>& samples = trackSamples[track];
        trackLevels[track] =
            sampleIndex < samples.size() ? samples[sampleIndex] * (1.0f / 65536.0f) : 0.0f;
    }

    // Every event is looked at, in file order: the last qualifying one per channel wins.
    const double tick = static_cast<double>(t) / kSyncMsPerTick;
    for (const SyncEvent& event : events) {
        if (event.kind == 1 && static_cast<double>(event.tick) <= tick &&
            event.channel < kSyncChannels) {
            channelNotes[event.channel] = event.value;
        }
    }
}
