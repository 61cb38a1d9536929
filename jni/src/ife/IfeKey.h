#pragma once
// The keyframes of a ".ife" sprite and the look they give at a time: the key line reader,
// the easing curves and the interpolation between a pair of keys. No GL here, so the image
// builder animates its previews with the same code the show draws with.

#include <cstdint>
#include <string>
#include <vector>

struct IfeKey {
    uint32_t time;
    float x, y;
    int32_t easing;
    float angle;
    float width, height;
    float red, green, blue, alpha;
};
static_assert(sizeof(IfeKey) == 44, "a key is eleven 32-bit values");

// The interpolated look of one sprite at one time.
struct IfeSpriteState {
    float x, y, angle, halfWidth, halfHeight;
    float red, green, blue, alpha; // 0..1
};

// Keys of equal time hold the later-listed one instead of dividing 0 by 0; no keys gives an
// all-zero state.
IfeSpriteState interpolateKeys(const std::vector<IfeKey>& keys, float t);
float ease(int32_t kind, float a, float b, float u);

// "%d" of a line with the C locale; 0 when it does not start with a number.
int32_t parseInt(const std::string& line);
// A key line "%d %f %f %d %f %f %f %f %f %f %f"; missing values read as 0.
IfeKey parseKey(const std::string& line);
