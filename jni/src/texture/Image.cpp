#include "texture/Image.h"

#include <climits>
#include <string>

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include "loader/Asset.h"
#include "progress/Progress.h"
#include "report/Errors.h"

Image::~Image() {
    release();
}

void Image::release() {
    if (pixels != nullptr) {
        stbi_image_free(pixels);
        pixels = nullptr;
    }
}

bool Image::Load(Image& image, const std::string& name) {
    progressStep();
    Asset asset;
    if (!asset.Load(name)) {
        reportError("Image load error : " + name);
        return false;
    }
    progressStep();
    const bool decoded = Decode(image, asset.size, asset.data);
    asset.release();
    return decoded;
}

namespace {
// Far beyond anything the show draws, and small enough never to strain memory (64 MB RGBA).
constexpr int kMaxImageSide = 8192;
constexpr int64_t kMaxImagePixels = 16 * 1024 * 1024;
}  // namespace

bool Image::Decode(Image& image, uint32_t byteCount, const uint8_t* bytes) {
    image.release();
    // stb_image takes an int length: a larger buffer cannot be handed to it whole.
    if (bytes == nullptr || byteCount == 0 || byteCount > static_cast<uint32_t>(INT_MAX)) {
        reportError(bytes == nullptr || byteCount == 0 ? "empty image" : "image file too large");
        return false;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    // A few header bytes can claim gigapixels; look at the size before decoding anything.
    if (stbi_info_from_memory(bytes, static_cast<int>(byteCount), &width, &height, &channels) &&
        (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide ||
         static_cast<int64_t>(width) * height > kMaxImagePixels)) {
        reportError("image size out of range: " + std::to_string(width) + " x " +
                    std::to_string(height));
        return false;
    }
    image.pixels =
        stbi_load_from_memory(bytes, static_cast<int>(byteCount), &width, &height, &channels, 0);
    if (image.pixels == nullptr) {
        const char* reason = stbi_failure_reason();
        reportError(reason != nullptr ? reason : "unknown image error");
        return false;
    }
    image.width = width;
    image.height = height;
    image.channels = channels;
    return true;
}
