// lumenfall-icon SIZE FILE: writes the window icon's picture, drawn at SIZE x SIZE pixels, as
// a PNG file. The build runs it for the installed desktop icons; it is not installed itself.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <stb/stb_image_write.h>

#include "platform/AppIcon.h"

int main(int argc, char** argv) {
    const int size = argc == 3 ? std::atoi(argv[1]) : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: lumenfall-icon SIZE FILE (SIZE from 16 to 1024)\n");
        return 2;
    }
    const std::vector<uint8_t> pixels = makeAppIcon(size);
    if (stbi_write_png(argv[2], size, size, 4, pixels.data(), size * 4) == 0) {
        std::fprintf(stderr, "lumenfall-icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
