#include "texture/Image.h"

#include <climits>

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
