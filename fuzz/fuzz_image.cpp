// Image decoding on arbitrary bytes, through the texture path's CPU side: the bytes are an
// image asset in "./assets/", read and decoded by Image::Load. A decoded image must have a
// channel count the texture path knows and all of its pixels. (The decoder does hand back
// images with a width or height of 0, from BMP files; they upload as empty textures.)

#include <cstdint>
#include <cstdlib>

#include "FuzzSupport.h"
#include "loader/Loader.h"
#include "texture/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::beginInput();
    Loader::Close();  // folder mode
    fuzz::writeFile("assets/fuzz.tga", data, size);

    Image image;
    if (Image::Load(image, "fuzz.tga")) {
        if (image.pixels == nullptr || image.width < 0 || image.height < 0 ||
            image.channels < 1 || image.channels > 4) {
            std::abort();
        }
        const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) *
                             static_cast<size_t>(image.channels);
        if (count > 0) {
            volatile uint8_t sink = image.pixels[0];
            sink = image.pixels[count - 1];
            (void)sink;
        }
    } else if (image.pixels != nullptr) {
        std::abort();
    }
    return 0;
}
