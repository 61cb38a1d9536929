#pragma once
// What a recorded frame costs, relative to the others, by music time: the scenes differ by
// more than five times (the tentacles of the fourth fill the screen with sprites). The
// progress line weighs the work still ahead with these, so its time left holds from the
// dark, fast opening on. Measured at 1280 x 720, 30 fps, frames drawn and encoded; other
// sizes keep roughly the same proportions.

#include <cstdint>
#include <vector>

// The expected cost of the frame at music time t, in CPU milliseconds at the default size;
// native: with the rasteriser's code for this processor (the default; not --portable),
// which speeds the fill-heavy scenes more than the light ones.
double frameCost(uint32_t t, bool native);
// frameCost of each frame of a run from startMs at fps.
std::vector<double> frameCosts(uint32_t startMs, uint64_t frames, int fps, bool native);
