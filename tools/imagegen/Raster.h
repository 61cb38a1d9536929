#pragma once
// Float rasters the image builder draws into, and the writers that turn them into asset
// files. A raster owns its pixels; rows are stored top row first, components in 0..1.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Raster {
    Raster() = default;
    Raster(int width, int height, int channels);

    float& at(int x, int y, int c) { return pixels[index(x, y, c)]; }
    float at(int x, int y, int c) const { return pixels[index(x, y, c)]; }
    size_t index(int x, int y, int c) const {
        return (static_cast<size_t>(y) * width + x) * channels + c;
    }

    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<float> pixels;
};

// Mean of a function over an n x n grid of samples in each pixel (anti-aliasing); the
// function gets coordinates in pixels, (0,0) being the top-left corner of the top-left pixel.
Raster coverage(int width, int height, int samples,
                const std::function<double(double, double)>& inside);

// Separable box blur repeated three times (close to a Gaussian of about `radius` pixels).
Raster blurred(const Raster& single, int radius);

// 8-bit quantisation with round-to-nearest and clamping.
uint8_t toByte(float value);

// Uncompressed TGA, top-left origin: 1 channel as greyscale (type 3), 3 or 4 as true colour
// (type 2, stored BGR(A)). PNG through stb_image_write. Each reports its failure on stderr
// and returns false.
bool writeTga(const std::string& path, const Raster& image);
bool writePng(const std::string& path, const Raster& image);
bool writeFile(const std::string& path, const std::string& bytes);
