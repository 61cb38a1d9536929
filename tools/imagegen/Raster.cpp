#include "Raster.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

#include "../Failure.h"

Raster::Raster(int columns, int rows, int channelCount)
    : width(columns), height(rows), channels(channelCount),
      pixels(static_cast<size_t>(columns) * rows * channelCount, 0.0f) {}

Raster coverage(int width, int height, int samples,
                const std::function<double(double, double)>& inside) {
    Raster out(width, height, 1);
    const double step = 1.0 / samples;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double sum = 0.0;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    sum += inside(x + (sx + 0.5) * step, y + (sy + 0.5) * step);
                }
            }
            out.at(x, y, 0) = static_cast<float>(sum / (samples * samples));
        }
    }
    return out;
}

namespace {

// One box pass along rows (horizontal) or columns, with zero outside the raster.
Raster boxPass(const Raster& in, int radius, bool horizontal) {
    Raster out(in.width, in.height, 1);
    const int length = horizontal ? in.width : in.height;
    const int lines = horizontal ? in.height : in.width;
    const float norm = 1.0f / static_cast<float>(2 * radius + 1);
    for (int line = 0; line < lines; ++line) {
        auto sample = [&](int i) -> double {
            if (i < 0 || i >= length) {
                return 0.0;
            }
            return horizontal ? in.at(i, line, 0) : in.at(line, i, 0);
        };
        double sum = 0.0;
        for (int i = -radius; i <= radius; ++i) {
            sum += sample(i);
        }
        for (int i = 0; i < length; ++i) {
            float& target = horizontal ? out.at(i, line, 0) : out.at(line, i, 0);
            target = static_cast<float>(sum) * norm;
            sum += sample(i + radius + 1) - sample(i - radius);
        }
    }
    return out;
}

} // namespace

Raster blurred(const Raster& single, int radius) {
    Raster out = single;
    for (int pass = 0; pass < 3; ++pass) {
        out = boxPass(boxPass(out, radius, true), radius, false);
    }
    return out;
}

uint8_t toByte(float value) {
    const float scaled = std::clamp(value, 0.0f, 1.0f) * 255.0f + 0.5f;
    return static_cast<uint8_t>(scaled);
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        reportFailure("cannot open " + path + " for writing");
        return false;
    }
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        reportFailure("cannot write " + path);
        return false;
    }
    return true;
}

bool writeTga(const std::string& path, const Raster& image) {
    if (image.channels != 1 && image.channels != 3 && image.channels != 4) {
        reportFailure("TGA needs 1, 3 or 4 channels: " + path);
        return false;
    }
    std::string bytes(18, '\0');
    bytes[2] = static_cast<char>(image.channels == 1 ? 3 : 2);
    bytes[12] = static_cast<char>(image.width & 0xFF);
    bytes[13] = static_cast<char>(image.width >> 8);
    bytes[14] = static_cast<char>(image.height & 0xFF);
    bytes[15] = static_cast<char>(image.height >> 8);
    bytes[16] = static_cast<char>(image.channels * 8);
    // Bit 5: the first stored row is the top row; the low bits count alpha bits.
    bytes[17] = static_cast<char>(0x20 | (image.channels == 4 ? 8 : 0));
    static const int kBgrOrder[4] = {2, 1, 0, 3};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            for (int channel = 0; channel < image.channels; ++channel) {
                const int source = image.channels == 1 ? 0 : kBgrOrder[channel];
                bytes += static_cast<char>(toByte(image.at(x, y, source)));
            }
        }
    }
    return writeFile(path, bytes);
}

bool writePng(const std::string& path, const Raster& image) {
    std::vector<uint8_t> bytes(image.pixels.size());
    std::transform(image.pixels.begin(), image.pixels.end(), bytes.begin(), toByte);
    if (stbi_write_png(path.c_str(), image.width, image.height, image.channels, bytes.data(),
                       image.width * image.channels) == 0) {
        reportFailure("cannot write " + path);
        return false;
    }
    return true;
}
