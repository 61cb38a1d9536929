#pragma once
// The window icon: a 128 x 128 picture drawn by code (a glowing ring of points). The same
// drawing at other sizes gives the installed desktop icons.

#include <cstdint>
#include <vector>

constexpr int kIconSize = 128;

// size x size RGBA pixels, top row first.
std::vector<uint8_t> makeAppIcon(int size = kIconSize);
