#pragma once
// The window icon: a 128 x 128 picture drawn by code (a glowing ring of points).

#include <cstdint>
#include <vector>

constexpr int kIconSize = 128;

// RGBA pixels, top row first.
std::vector<uint8_t> makeAppIcon();
