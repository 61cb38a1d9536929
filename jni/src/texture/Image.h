#pragma once
// A decoded image, local to one texture load. Pixels come from stb_image and are released
// with its free function.

#include <cstdint>
#include <string>

struct Image {
    Image() = default;
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    static bool Load(Image& image, const std::string& name);
    static bool Decode(Image& image, uint32_t byteCount, const uint8_t* bytes);
    void release();

    int32_t width = -1;
    int32_t height = -1;
    int32_t channels = -1;
    uint8_t* pixels = nullptr;
};
