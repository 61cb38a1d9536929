#pragma once
// Software stand-in for the show's sprite pass, for looking at the animations without a GPU:
// composes the four ".ife" animations as the show layers them at a given music time, over a
// dark frame with a field of soft points standing in for the particles.

#include <cstdint>
#include <map>
#include <string>

#include "IfeScript.h"
#include "Raster.h"

struct PreviewContent {
    std::map<std::string, const Raster*> images; // by asset name, colour in 0..1
    IfeScript overlay, racs, credits, vege;
};

// An RGB frame of width x (width * 9 / 16) pixels.
Raster renderPreview(const PreviewContent& content, uint32_t musicMs, int width);
