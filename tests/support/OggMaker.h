#pragma once
// Small Ogg Vorbis files made at run time for the audio and music tests: a 440 Hz sine at half
// scale, encoded with libvorbisenc. Nothing is written to disk.

#include <cstdint>
#include <vector>

namespace testing_support {

// `seconds` of sound (rounded to whole frames) with 1 or 2 channels at `rate` Hz.
// Empty when the encoder refuses the parameters.
std::vector<uint8_t> makeOgg(double seconds, int channels = 2, int rate = 44100);

} // namespace testing_support
