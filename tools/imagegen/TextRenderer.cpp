#include "TextRenderer.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>

namespace {

const stbtt_fontinfo* info(const std::vector<uint8_t>& storage) {
    return reinterpret_cast<const stbtt_fontinfo*>(storage.data());
}

} // namespace

bool TextRenderer::load(const std::string& fontPath, std::string& error) {
    std::ifstream file(fontPath, std::ios::binary);
    if (!file) {
        error = "cannot open font " + fontPath;
        return false;
    }
    fontBytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    fontRecord.assign(sizeof(stbtt_fontinfo), 0);
    auto* font = reinterpret_cast<stbtt_fontinfo*>(fontRecord.data());
    const int offset = stbtt_GetFontOffsetForIndex(fontBytes.data(), 0);
    if (fontBytes.empty() || offset < 0 || stbtt_InitFont(font, fontBytes.data(), offset) == 0) {
        error = "not a TrueType font: " + fontPath;
        return false;
    }
    return true;
}

double TextRenderer::measure(const std::string& text, double pixelHeight, double tracking) const {
    const stbtt_fontinfo* font = info(fontRecord);
    const double scale = stbtt_ScaleForMappingEmToPixels(font, static_cast<float>(pixelHeight));
    double x = 0.0;
    for (size_t i = 0; i < text.size(); ++i) {
        int advance = 0;
        int bearing = 0;
        stbtt_GetCodepointHMetrics(font, static_cast<unsigned char>(text[i]), &advance, &bearing);
        x += advance * scale;
        if (i + 1 < text.size()) {
            x += stbtt_GetCodepointKernAdvance(font, static_cast<unsigned char>(text[i]),
                                               static_cast<unsigned char>(text[i + 1])) *
                 scale;
            x += tracking * pixelHeight;
        }
    }
    return x;
}

double TextRenderer::capHeight(double pixelHeight) const {
    const stbtt_fontinfo* font = info(fontRecord);
    const double scale = stbtt_ScaleForMappingEmToPixels(font, static_cast<float>(pixelHeight));
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    stbtt_GetCodepointBox(font, 'H', &x0, &y0, &x1, &y1);
    return y1 * scale;
}

void TextRenderer::draw(Raster& target, const std::string& text, double pixelHeight,
                        double tracking, double left, double baseline) const {
    const stbtt_fontinfo* font = info(fontRecord);
    const float scale = stbtt_ScaleForMappingEmToPixels(font, static_cast<float>(pixelHeight));
    const double baseFloor = std::floor(baseline);
    const float shiftY = static_cast<float>(baseline - baseFloor);
    double x = left;
    for (size_t i = 0; i < text.size(); ++i) {
        const int codepoint = static_cast<unsigned char>(text[i]);
        const double xFloor = std::floor(x);
        const float shiftX = static_cast<float>(x - xFloor);
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        stbtt_GetCodepointBitmapBoxSubpixel(font, codepoint, scale, scale, shiftX, shiftY, &x0, &y0,
                                            &x1, &y1);
        const int w = x1 - x0;
        const int h = y1 - y0;
        if (w > 0 && h > 0) {
            std::vector<uint8_t> glyph(static_cast<size_t>(w) * h, 0);
            stbtt_MakeCodepointBitmapSubpixel(font, glyph.data(), w, h, w, scale, scale, shiftX,
                                              shiftY, codepoint);
            for (int gy = 0; gy < h; ++gy) {
                for (int gx = 0; gx < w; ++gx) {
                    const int px = static_cast<int>(xFloor) + x0 + gx;
                    const int py = static_cast<int>(baseFloor) + y0 + gy;
                    if (px < 0 || py < 0 || px >= target.width || py >= target.height) {
                        continue;
                    }
                    float& cell = target.at(px, py, 0);
                    cell = std::min(1.0f, cell + glyph[static_cast<size_t>(gy) * w + gx] / 255.0f);
                }
            }
        }
        int advance = 0;
        int bearing = 0;
        stbtt_GetCodepointHMetrics(font, codepoint, &advance, &bearing);
        x += advance * scale;
        if (i + 1 < text.size()) {
            x += stbtt_GetCodepointKernAdvance(font, codepoint,
                                               static_cast<unsigned char>(text[i + 1])) *
                 scale;
            x += tracking * pixelHeight;
        }
    }
}
