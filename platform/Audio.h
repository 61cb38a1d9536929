#pragma once
// The audio back-end: one Ogg Vorbis stream decoded from a memory block the caller owns and
// played on one output, the desktop's sound server first, then SDL's drivers (ALSA). Device
// -1 is that default output; device 0 is "no sound": nothing is heard and the position
// follows the monotonic clock. Positions, lengths and conversions count the stream's own
// decoded 16-bit frames (channels x 2 bytes each, at its own rate), whatever the output plays.
//
// The position is what is heard: the output's report of what reaches the speaker, mapped back
// to the stream frames that went into it, smoothed so it never goes backwards or leaps. If the
// output goes away while playing, the position carries on from there on the monotonic clock.

#include <cstdint>

namespace audio {

constexpr uint32_t kVersion = 0x02040000u; // high 16 bits: 2.4
constexpr int kSampleRate = 44100;         // the rate asked of a device without a server

uint32_t getVersion();
bool init(int device, int frequency); // false when the device cannot be opened
bool start();
uint32_t streamCreateMemory(const void* data, uint64_t length); // 0 on failure
uint64_t channelGetLength(uint32_t handle);
uint64_t channelGetPosition(uint32_t handle);
double channelBytes2Seconds(uint32_t handle, uint64_t bytes);
uint64_t channelSeconds2Bytes(uint32_t handle, double seconds);
bool channelSetVolume(uint32_t handle, float volume);
bool channelPlay(uint32_t handle, bool restart);
// True once everything that decodes has been played: the stream has stopped advancing.
// Judged at the latest channelGetPosition.
bool channelEnded(uint32_t handle);
bool stop();
bool streamFree(uint32_t handle);
bool free();

// Which device init() opened: -1 (a real output) or 0 (no sound); 1 when not initialised.
int currentDevice();
// What plays the sound: "sound server", SDL's driver name ("alsa", "dummy", ...), "none"
// for device 0, or "lost" once the output went away.
const char* outputName();

} // namespace audio
