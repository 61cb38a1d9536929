#pragma once
// The length of an Ogg Vorbis file held in memory, read the way the show's clock reads it:
// whole seconds and fractions from the decoded sample count, nothing played.

#include <cstdint>
#include <string>

// Seconds of audio in the file; false with a reason when the bytes are not Ogg Vorbis.
bool oggLengthSeconds(const uint8_t* data, uint32_t size, double& seconds, std::string& error);
// The length the show is built with: seconds * 1000 truncated.
int32_t musicLengthMs(double seconds);
