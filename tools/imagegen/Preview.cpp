#include "Preview.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kVirtualWidth = 1280.0;
constexpr double kVirtualHeight = 720.0;

// Bilinear, clamped to the edge, as the show's textures are sampled. Returns RGBA.
void sample(const Raster& image, double s, double t, float out[4]) {
    const double x = std::clamp(s * image.width - 0.5, 0.0, image.width - 1.0);
    const double y = std::clamp(t * image.height - 0.5, 0.0, image.height - 1.0);
    const int x0 = static_cast<int>(x);
    const int y0 = static_cast<int>(y);
    const int x1 = std::min(x0 + 1, image.width - 1);
    const int y1 = std::min(y0 + 1, image.height - 1);
    const float fx = static_cast<float>(x - x0);
    const float fy = static_cast<float>(y - y0);
    for (int c = 0; c < 4; ++c) {
        auto texel = [&](int px, int py) {
            if (c < image.channels) {
                return image.at(px, py, image.channels == 1 ? 0 : c);
            }
            return 1.0f; // images without alpha are opaque
        };
        const float top = texel(x0, y0) * (1 - fx) + texel(x1, y0) * fx;
        const float bottom = texel(x0, y1) * (1 - fx) + texel(x1, y1) * fx;
        out[c] = top * (1 - fy) + bottom * fy;
    }
}

void drawSprite(Raster& frame, const Raster& image, const ScriptSprite& sprite, float t) {
    const IfeSpriteState s = interpolateKeys(sprite.keys, t);
    const double scale = frame.width / kVirtualWidth;
    const double angle = s.angle * 0.017453292519943295;
    const double cosA = std::cos(angle);
    const double sinA = std::sin(angle);
    const double hw = s.halfWidth;
    const double hh = s.halfHeight;
    if (hw <= 0.0 || hh <= 0.0) {
        return;
    }
    const double reach = std::sqrt(hw * hw + hh * hh) * scale;
    const double cx = s.x * scale;
    const double cy = s.y * scale;
    const int x0 = std::max(0, static_cast<int>(cx - reach));
    const int x1 = std::min(frame.width - 1, static_cast<int>(cx + reach) + 1);
    const int y0 = std::max(0, static_cast<int>(cy - reach));
    const int y1 = std::min(frame.height - 1, static_cast<int>(cy + reach) + 1);
    const float tint[4] = {s.red, s.green, s.blue, s.alpha};
    for (int py = y0; py <= y1; ++py) {
        for (int px = x0; px <= x1; ++px) {
            // Pixel centre in virtual units (y up), then into the sprite's own frame.
            const double vx = (px + 0.5) / scale - s.x;
            const double vy = (py + 0.5) / scale - s.y;
            const double lx = vx * cosA + vy * sinA;
            const double ly = -vx * sinA + vy * cosA;
            if (std::abs(lx) > hw || std::abs(ly) > hh) {
                continue;
            }
            float texel[4];
            sample(image, (lx + hw) / (2.0 * hw), (hh - ly) / (2.0 * hh), texel);
            float colour[4];
            for (int c = 0; c < 4; ++c) {
                colour[c] = texel[c] * tint[c];
            }
            for (int c = 0; c < 3; ++c) {
                float& dst = frame.at(px, py, c);
                if (sprite.blendMode == 1) {
                    dst += colour[c];
                } else if (sprite.blendMode == 2) {
                    dst = colour[c] * colour[3] + dst * (1.0f - colour[3]);
                }
                dst = std::min(dst, 1.0f);
            }
        }
    }
}

void drawIfe(Raster& frame, const PreviewContent& content, const IfeScript& script, float t) {
    for (const ScriptSprite& sprite : script.sprites) {
        const auto found = content.images.find(sprite.imageName);
        if (found != content.images.end()) {
            drawSprite(frame, *found->second, sprite, t);
        }
    }
}

// A stand-in for a particle scene: a dim blue haze and scattered soft points.
void drawBackdrop(Raster& frame, uint32_t musicMs) {
    const double w = frame.width;
    const double h = frame.height;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const double dx = (x - w * 0.55) / w;
            const double dy = (y - h * 0.5) / h;
            const float haze = static_cast<float>(0.06 * std::exp(-(dx * dx + dy * dy) * 6.0));
            frame.at(x, y, 0) = haze * 0.6f;
            frame.at(x, y, 1) = haze * 0.8f;
            frame.at(x, y, 2) = haze * 1.4f;
        }
    }
    uint32_t state = 12345u + musicMs / 1000u;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    };
    for (int i = 0; i < 900; ++i) {
        const double px = next() * w;
        const double py = h * 0.5 + (next() - 0.5) * h * 0.8 * (0.4 + next());
        const double radius = 1.0 + next() * 3.0 * w / 1280.0;
        const float bright = static_cast<float>(0.15 + 0.6 * next() * next());
        const int r = static_cast<int>(radius * 2.0) + 1;
        for (int oy = -r; oy <= r; ++oy) {
            for (int ox = -r; ox <= r; ++ox) {
                const int fx = static_cast<int>(px) + ox;
                const int fy = static_cast<int>(py) + oy;
                if (fx < 0 || fy < 0 || fx >= frame.width || fy >= frame.height) {
                    continue;
                }
                const double q = 1.0 - (ox * ox + oy * oy) / (radius * radius * 4.0);
                if (q <= 0.0) {
                    continue;
                }
                const float v = static_cast<float>(q * q * q) * bright;
                frame.at(fx, fy, 0) = std::min(1.0f, frame.at(fx, fy, 0) + v * 0.55f);
                frame.at(fx, fy, 1) = std::min(1.0f, frame.at(fx, fy, 1) + v * 0.75f);
                frame.at(fx, fy, 2) = std::min(1.0f, frame.at(fx, fy, 2) + v * 1.1f);
            }
        }
    }
}

} // namespace

Raster renderPreview(const PreviewContent& content, uint32_t musicMs, int width) {
    const int height = width * 9 / 16;
    Raster frame(width, height, 3);
    drawBackdrop(frame, musicMs);
    const float ms = static_cast<float>(musicMs);
    // The scenes' own animations: credits in the first scene, the closing title in the last.
    if (musicMs <= 106905u) {
        drawIfe(frame, content, content.credits, (ms - 61089.0f) / 43.635f);
    }
    if (musicMs > 211630u) {
        drawIfe(frame, content, content.vege, static_cast<float>(musicMs - 211630u) / 8.727f);
    }
    if (musicMs < 216000u) {
        drawIfe(frame, content, content.overlay, ms / 220.0f);
        drawIfe(frame, content, content.racs, 0.0f);
    }
    // Rows were drawn bottom-up (y up, as on the virtual screen); store them top row first.
    Raster flipped(width, height, 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                flipped.at(x, height - 1 - y, c) = frame.at(x, y, c);
            }
        }
    }
    return flipped;
}
