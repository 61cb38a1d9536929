#pragma once
// Small Ogg Vorbis files made at run time for the audio and music tests: a 440 Hz sine at half
// scale, or any sound the test computes, encoded with libvorbisenc.

#include <cstdint>
#include <vector>

namespace testing_support {

// `seconds` of sound (rounded to whole frames) with 1 or 2 channels at `rate` Hz.
// Empty when the encoder refuses the parameters.
std::vector<uint8_t> makeOgg(double seconds, int channels = 2, int rate = 44100);

// The given channels (equal lengths, samples in [-1, 1]) at `rate` Hz; empty when refused.
std::vector<uint8_t> encodeOgg(const std::vector<std::vector<float>>& channels, int rate);

// Rewrites the granule position of the last page (and its checksum): a file whose length
// lies about how much of it decodes. False when `ogg` holds no page.
bool setLastGranule(std::vector<uint8_t>& ogg, int64_t granule);

} // namespace testing_support
