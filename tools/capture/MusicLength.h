#pragma once
// The length of an Ogg Vorbis file held in memory, read the way the show's clock reads it:
// whole seconds and fractions from the decoded sample count, nothing played.

#include <cstdint>
#include <string>

struct OggLength {
    double seconds = 0.0;
    std::string error; // empty when the length was read
};

// Seconds of audio in the file, or why the bytes are not Ogg Vorbis.
OggLength oggLengthSeconds(const uint8_t* data, uint32_t size);
// The length the show is built with: seconds * 1000 truncated.
int32_t musicLengthMs(double seconds);
