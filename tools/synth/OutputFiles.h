#pragma once
// Everything the synth writes to disk: the Ogg Vorbis music, a 16-bit WAV (for the
// spectrogram), the level tracks and the note-event file. Each writer reports its own
// failure on stderr and returns false.

#include <cstdint>
#include <string>
#include <vector>

#include "Sequence.h"
#include "Voices.h"

constexpr int kOggSerial = 0x4C4D4E46; // fixed, so equal input gives equal files
constexpr float kVorbisQuality = 0.5f;

bool writeOgg(const std::string& path, const StereoBuffer& audio);
bool writeWav(const std::string& path, const StereoBuffer& audio);

// Little-endian unsigned 16-bit samples, no header.
bool writeLevelTrack(const std::string& path, const std::vector<uint16_t>& samples);

// 8-byte records: tick (uint32 LE), kind 1, channel, value, 0.
bool writeEvents(const std::string& path, const std::vector<NoteEvent>& events);
