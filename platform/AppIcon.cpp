#include "platform/AppIcon.h"

#include <algorithm>
#include <cmath>

std::vector<uint8_t> makeAppIcon(int size) {
    std::vector<uint8_t> pixels(static_cast<size_t>(size) * size * 4);
    const float centre = (size - 1) * 0.5f;
    const int dots = 12;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const float dx = (x - centre) / centre;
            const float dy = (y - centre) / centre;
            const float r = std::sqrt(dx * dx + dy * dy);
            // A soft core, a thin ring and twelve bright points on it.
            float light = std::exp(-r * r * 18.0f) * 0.9f;
            light += std::exp(-(r - 0.72f) * (r - 0.72f) * 900.0f) * 0.35f;
            for (int k = 0; k < dots; ++k) {
                const float a = 6.2831853f * k / dots;
                const float px = 0.72f * std::cos(a) - dx;
                const float py = 0.72f * std::sin(a) - dy;
                light += std::exp(-(px * px + py * py) * 600.0f);
            }
            light = std::min(light, 1.0f);
            uint8_t* p = &pixels[(static_cast<size_t>(y) * size + x) * 4];
            p[0] = static_cast<uint8_t>(255.0f * std::min(1.0f, light * 0.75f));
            p[1] = static_cast<uint8_t>(255.0f * std::min(1.0f, light * 0.9f));
            p[2] = static_cast<uint8_t>(255.0f * light);
            p[3] = static_cast<uint8_t>(255.0f * std::min(1.0f, light * 1.6f));
        }
    }
    return pixels;
}
