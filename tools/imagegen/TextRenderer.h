#pragma once
// Lays out and rasterises one line of text from a TrueType font file into a coverage raster.
// Owns the font file bytes; glyph coverage comes from stb_truetype's exact area rasteriser.

#include <cstdint>
#include <string>
#include <vector>

#include "Raster.h"

class TextRenderer {
public:
    bool load(const std::string& fontPath, std::string& error);

    // Width in pixels of `text` at `pixelHeight` pixels per em, with `tracking` extra em
    // after every glyph but the last.
    double measure(const std::string& text, double pixelHeight, double tracking) const;

    // Adds the text's coverage into `target` (channel 0, saturating) with the left end of the
    // baseline at (left, baseline) in pixels.
    void draw(Raster& target, const std::string& text, double pixelHeight, double tracking,
              double left, double baseline) const;

    // Ascent of the capital H in pixels at `pixelHeight`, for vertical centring.
    double capHeight(double pixelHeight) const;

private:
    std::vector<uint8_t> fontBytes;
    std::vector<uint8_t> fontRecord; // storage of the stb_truetype font record
};
