#pragma once
// Every image the show loads besides the shaders: the point-sprite flare, the fan mask of the
// second scene and the sprite images of the ".ife" animations, each drawn by code.

#include <string>
#include <vector>

#include "Raster.h"

enum class ImageFormat { Tga, Png };

struct Artwork {
    std::string name; // asset file name
    ImageFormat format;
    Raster image;
};

// Draws all images; the text sprites use the DejaVu fonts found in `fontDir`.
bool buildArtwork(const std::string& fontDir, std::vector<Artwork>& out, std::string& error);

// Share of the fan mask's pixels that are black (0), the value the second scene keeps at full
// brightness.
double blackShare(const Raster& mask);

// Texels per virtual screen unit of the text sprites. One: a 1280 x 720 picture shows them
// texel for texel, 640 x 360 minifies them twice (the linear filter without mipmaps still reads
// every texel) and 1920 x 1080 magnifies them one and a half times.
constexpr double kSpriteTexelsPerUnit = 1.0;
