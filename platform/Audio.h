#pragma once
// The audio back-end: Ogg Vorbis decoded with libvorbisfile from a memory block, played
// through SDL2 (44100 Hz, stereo, 16-bit). Positions and lengths are bytes of 16-bit stereo
// frames (4 bytes a frame). Device -1 is the default output; device 0 is "no sound": nothing
// is heard and the position follows the monotonic clock. One stream at a time.
//
// The position is what is audible: frames handed to the device minus those still buffered,
// interpolated with the monotonic clock between callbacks, never going backwards.

#include <cstdint>

namespace audio {

constexpr uint32_t kVersion = 0x02040000u;  // high 16 bits: 2.4
constexpr int kSampleRate = 44100;
constexpr int kBytesPerFrame = 4;

uint32_t getVersion();
bool init(int device, int frequency);  // false when the device cannot be opened
bool start();
uint32_t streamCreateMemory(const void* data, uint64_t length);  // 0 on failure
uint64_t channelGetLength(uint32_t handle);
uint64_t channelGetPosition(uint32_t handle);
double channelBytes2Seconds(uint32_t handle, uint64_t bytes);
uint64_t channelSeconds2Bytes(uint32_t handle, double seconds);
bool channelSetVolume(uint32_t handle, float volume);
bool channelPlay(uint32_t handle, bool restart);
bool stop();
bool streamFree(uint32_t handle);
bool free();

// Which device init() opened: -1 (a real output) or 0 (no sound); 1 when not initialised.
int currentDevice();

}  // namespace audio
