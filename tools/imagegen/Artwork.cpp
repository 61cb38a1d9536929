#include "Artwork.h"

#include <algorithm>
#include <cmath>

#include "TextRenderer.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

double smoothstep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Point-sprite flare: a (1 - r^2)^3 body with a tighter, brighter core, neutral white so the
// particle colours alone decide the hue. Everything at r >= 1 is black, and r reaches 1
// before the outermost ring of pixels, so no point ever shows its square.
Raster drawFlare() {
    constexpr int kSize = 128;
    constexpr double kRadius = kSize / 2.0 - 2.0;
    const Raster flat = coverage(kSize, kSize, 4, [](double x, double y) {
        const double dx = (x - kSize / 2.0) / kRadius;
        const double dy = (y - kSize / 2.0) / kRadius;
        const double q = 1.0 - (dx * dx + dy * dy);
        if (q <= 0.0) {
            return 0.0;
        }
        const double body = q * q * q;
        const double core = std::pow(q, 24.0);
        return 0.74 * body + 0.26 * core;
    });
    Raster rgb(kSize, kSize, 3);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            for (int c = 0; c < 3; ++c) {
                rgb.at(x, y, c) = flat.at(x, y, 0);
            }
        }
    }
    return rgb;
}

// Fan mask, black on white: five swept blades on a hub inside a guard ring. The second scene
// keeps particles where the mask is dark, at the brightness (255 - byte) / 255, and drops them
// where it is white; everything outside the ring, the last row and column included, is white,
// so points that rotate off the grid (sampled at row or column 255) are dropped.
Raster drawFan() {
    constexpr int kSize = 256;
    constexpr int kBlades = 5;
    constexpr double kHub = 0.17;
    constexpr double kRoot = 0.12;
    constexpr double kTip = 0.80;
    constexpr double kRingInner = 0.855;
    constexpr double kRingOuter = 0.925;
    constexpr double kSweep = 1.05; // radians of twist from root to tip
    Raster darkness = coverage(kSize, kSize, 6, [&](double px, double py) {
        const double x = (px - kSize / 2.0) / (kSize / 2.0);
        const double y = (py - kSize / 2.0) / (kSize / 2.0);
        const double r = std::sqrt(x * x + y * y);
        if (r >= kRingInner && r <= kRingOuter) {
            return 1.0;
        }
        if (r <= kHub) {
            // A thin groove around the axle keeps the hub from reading as a plain dot.
            return std::abs(r - 0.085) < 0.012 ? 0.35 : 1.0;
        }
        if (r < kRoot || r > kTip) {
            return 0.0;
        }
        const double t = (r - kRoot) / (kTip - kRoot);
        double halfWidth = 0.15 + 0.27 * std::pow(t / 0.72, 0.8);
        if (t > 0.72) {
            const double u = (t - 0.72) / 0.28;
            halfWidth = 0.42 * std::sqrt(std::max(0.0, 1.0 - u * u));
        }
        const double phi = std::atan2(y, x);
        for (int blade = 0; blade < kBlades; ++blade) {
            const double centre = blade * 2.0 * kPi / kBlades + kSweep * t * t;
            double offset = std::remainder(phi - centre, 2.0 * kPi);
            if (std::abs(offset) <= halfWidth) {
                // Leading edge black, trailing edge a dark grey: the blades read as turned
                // surfaces and the points on them shimmer a little less.
                const double across = (offset / halfWidth + 1.0) * 0.5;
                return 1.0 - 0.24 * smoothstep(0.35, 1.0, across);
            }
        }
        return 0.0;
    });
    Raster mask(kSize, kSize, 1);
    for (size_t i = 0; i < mask.pixels.size(); ++i) {
        mask.pixels[i] = 1.0f - darkness.pixels[i];
    }
    return mask;
}

// ---- text sprites ----------------------------------------------------------------------

enum class Align { Centre, Left };

struct TextRecipe {
    const char* name;
    const char* font;
    const char* text;
    double emUnits;  // em size in virtual screen units
    double tracking; // extra space after each glyph, in em
    double stroke;   // extra stroke width on each side of every glyph edge, in em
    double widthUnits;
    double heightUnits;
    Align align;
};

// Canvases in virtual units (one texel each, see kSpriteTexelsPerUnit); the ink is centred
// vertically, and either centred or set flush left at kLeftMargin so that stacked lines align
// optically. The light faces get a little extra stroke, so that no stem is thinner than about
// two texels: a 640 x 360 picture, where one pixel covers two texels, still shows every stem.
constexpr double kLeftMargin = 12.0;

const TextRecipe kTextRecipes[] = {
    {"title.png", "DejaVuSans.ttf", "lumenfall", 64.0, 0.14, 0.0, 560.0, 100.0, Align::Centre},
    {"tagline.png", "DejaVuSans.ttf", "A REAL-TIME AUDIO-VISUAL SHOW", 15.0, 0.3, 0.0, 460.0, 36.0,
     Align::Centre},
    {"role-code.png", "DejaVuSans.ttf", "CODE", 17.0, 0.3, 0.0, 160.0, 36.0, Align::Left},
    {"role-music.png", "DejaVuSans.ttf", "MUSIC", 17.0, 0.3, 0.0, 160.0, 36.0, Align::Left},
    {"role-graphics.png", "DejaVuSans.ttf", "GRAPHICS", 17.0, 0.3, 0.0, 160.0, 36.0, Align::Left},
    {"team.png", "DejaVuSans-ExtraLight.ttf", "the lumenfall team", 40.0, 0.05, 0.016, 460.0, 64.0,
     Align::Left},
    {"thanks.png", "DejaVuSans-ExtraLight.ttf", "thank you for watching", 26.0, 0.1, 0.022, 420.0,
     48.0, Align::Centre},
};

struct InkBox {
    int left, top, right, bottom; // inclusive-exclusive pixel bounds
};

InkBox inkBox(const Raster& single) {
    InkBox box{single.width, single.height, 0, 0};
    for (int y = 0; y < single.height; ++y) {
        for (int x = 0; x < single.width; ++x) {
            if (single.at(x, y, 0) > 0.0f) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x + 1);
                box.bottom = std::max(box.bottom, y + 1);
            }
        }
    }
    return box;
}

// Grows the coverage outwards by `radius` texels (a round pen, soft at its rim).
Raster thickened(const Raster& single, double radius) {
    if (radius <= 0.0) {
        return single;
    }
    const int reach = static_cast<int>(std::ceil(radius + 0.5));
    Raster out(single.width, single.height, 1);
    for (int y = 0; y < single.height; ++y) {
        for (int x = 0; x < single.width; ++x) {
            float best = 0.0f;
            for (int dy = -reach; dy <= reach; ++dy) {
                for (int dx = -reach; dx <= reach; ++dx) {
                    const int sx = x + dx;
                    const int sy = y + dy;
                    if (sx < 0 || sy < 0 || sx >= single.width || sy >= single.height) {
                        continue;
                    }
                    const double pen =
                        std::clamp(radius + 0.5 - std::sqrt(double(dx * dx + dy * dy)), 0.0, 1.0);
                    best = std::max(best, single.at(sx, sy, 0) * static_cast<float>(pen));
                }
            }
            out.at(x, y, 0) = best;
        }
    }
    return out;
}

// A [1 2 1] / 4 filter along both axes: the edges soften by about half a texel, so that the
// linear filter's minification cannot skip a stem.
Raster prefiltered(const Raster& single) {
    Raster across(single.width, single.height, 1);
    const auto clampedAt = [](const Raster& r, int x, int y) {
        return r.at(std::clamp(x, 0, r.width - 1), std::clamp(y, 0, r.height - 1), 0);
    };
    for (int y = 0; y < single.height; ++y) {
        for (int x = 0; x < single.width; ++x) {
            across.at(x, y, 0) = 0.25f * clampedAt(single, x - 1, y) + 0.5f * single.at(x, y, 0) +
                                 0.25f * clampedAt(single, x + 1, y);
        }
    }
    Raster out(single.width, single.height, 1);
    for (int y = 0; y < single.height; ++y) {
        for (int x = 0; x < single.width; ++x) {
            out.at(x, y, 0) = 0.25f * clampedAt(across, x, y - 1) + 0.5f * across.at(x, y, 0) +
                              0.25f * clampedAt(across, x, y + 1);
        }
    }
    return out;
}

// White text with coverage in alpha over a soft dark backing, so the type stays readable over
// bright particles without looking outlined: the backing is a wide blur of the ink, dark
// close to the letters and fading out well before the canvas edge. Colour is not
// premultiplied (the sprites blend with SRC_ALPHA, ONE_MINUS_SRC_ALPHA); the outermost
// texels stay fully transparent.
bool drawText(const TextRecipe& recipe, const std::string& fontDir, Raster& out,
              std::string& error) {
    TextRenderer renderer;
    if (!renderer.load(fontDir + "/" + recipe.font, error)) {
        return false;
    }
    const double em = recipe.emUnits * kSpriteTexelsPerUnit;
    const int width = static_cast<int>(recipe.widthUnits * kSpriteTexelsPerUnit);
    const int height = static_cast<int>(recipe.heightUnits * kSpriteTexelsPerUnit);

    // Set the line on a scratch raster, find its ink, then place the ink on the canvas.
    const double lineWidth = renderer.measure(recipe.text, em, recipe.tracking);
    Raster scratch(static_cast<int>(lineWidth + 2.0 * em), static_cast<int>(3.0 * em), 1);
    renderer.draw(scratch, recipe.text, em, recipe.tracking, em, 2.0 * em);
    scratch = prefiltered(thickened(scratch, recipe.stroke * em));
    const InkBox ink = inkBox(scratch);
    const int inkWidth = ink.right - ink.left;
    const int inkHeight = ink.bottom - ink.top;
    const int left = recipe.align == Align::Centre
                         ? (width - inkWidth) / 2
                         : static_cast<int>(kLeftMargin * kSpriteTexelsPerUnit);
    const int top = (height - inkHeight) / 2;
    if (inkWidth <= 0 || left < 4 || top < 4 || left + inkWidth > width - 4) {
        error = std::string("text does not fit its canvas: ") + recipe.name + " (ink " +
                std::to_string(inkWidth) + " x " + std::to_string(inkHeight) + " texels)";
        return false;
    }
    Raster glyphs(width, height, 1);
    for (int y = 0; y < inkHeight; ++y) {
        for (int x = 0; x < inkWidth; ++x) {
            glyphs.at(left + x, top + y, 0) = scratch.at(ink.left + x, ink.top + y, 0);
        }
    }

    const int haloRadius = std::max(2, static_cast<int>(em * 0.09));
    const Raster halo = blurred(glyphs, haloRadius);
    out = Raster(width, height, 4);
    constexpr float kBackingStrength = 0.78f;
    constexpr int kClearBorder = 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool border = x < kClearBorder || y < kClearBorder || x >= width - kClearBorder ||
                                y >= height - kClearBorder;
            const float ink01 = glyphs.at(x, y, 0);
            const float shade = std::min(1.0f, halo.at(x, y, 0) * 2.4f) * kBackingStrength;
            const float alpha = border ? 0.0f : ink01 + shade * (1.0f - ink01);
            const float grey = alpha > 0.0f ? ink01 / alpha : 0.0f;
            for (int c = 0; c < 3; ++c) {
                out.at(x, y, c) = grey;
            }
            out.at(x, y, 3) = alpha;
        }
    }
    return true;
}

// ---- shapes ----------------------------------------------------------------------------

// A horizontal hairline with soft ends, for additive blending: colour premultiplied by
// coverage. Its sprite is stretched in width to draw the line out from the centre.
Raster drawHairline() {
    constexpr int kWidth = 512;
    constexpr int kHeight = 16;
    const Raster line = coverage(kWidth, kHeight, 4, [](double x, double y) {
        const double across = std::abs(y - kHeight / 2.0);
        const double body = 1.0 - smoothstep(0.9, 1.9, across);
        const double along = std::abs(x - kWidth / 2.0) / (kWidth / 2.0 - 6.0);
        const double fade = 1.0 - smoothstep(0.25, 1.0, along);
        return body * fade;
    });
    Raster out(kWidth, kHeight, 4);
    const float tint[3] = {0.86f, 0.93f, 1.0f};
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const float value = line.at(x, y, 0);
            for (int c = 0; c < 3; ++c) {
                out.at(x, y, c) = value * tint[c];
            }
            out.at(x, y, 3) = value;
        }
    }
    return out;
}

// Screen-wide vignette, black with alpha rising towards the corners; tiny because it is
// only ever magnified and the linear filter keeps the ramp smooth.
Raster drawVignette() {
    constexpr int kWidth = 320;
    constexpr int kHeight = 180;
    Raster out(kWidth, kHeight, 4);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double u = (x + 0.5) / kWidth * 2.0 - 1.0;
            const double v = (y + 0.5) / kHeight * 2.0 - 1.0;
            // Squarer than an ellipse so the darkening follows the frame's shape.
            const double d =
                std::pow(std::pow(std::abs(u), 3.0) + std::pow(std::abs(v), 3.0), 1.0 / 3.0);
            out.at(x, y, 3) = static_cast<float>(smoothstep(0.62, 1.38, d));
        }
    }
    return out;
}

// Thin corner marks framing the picture, for additive blending (premultiplied white).
// One texel per virtual unit; the sprite covers the whole 1280 x 720 screen.
Raster drawFrame() {
    constexpr int kWidth = 1280;
    constexpr int kHeight = 720;
    constexpr double kInset = 30.0;
    constexpr double kArm = 30.0;
    constexpr double kHalfThickness = 0.6;
    const Raster marks = coverage(kWidth, kHeight, 4, [&](double x, double y) {
        // Fold every corner onto the top-left one.
        const double fx = std::min(x, kWidth - x) - kInset;
        const double fy = std::min(y, kHeight - y) - kInset;
        const bool horizontal =
            std::abs(fy) <= kHalfThickness && fx >= -kHalfThickness && fx <= kArm;
        const bool vertical = std::abs(fx) <= kHalfThickness && fy >= -kHalfThickness && fy <= kArm;
        if (!horizontal && !vertical) {
            return 0.0;
        }
        // The arms fade out towards their free ends.
        const double along = horizontal ? fx : fy;
        return 1.0 - 0.8 * smoothstep(0.0, kArm, along);
    });
    Raster out(kWidth, kHeight, 4);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const float value = marks.at(x, y, 0);
            for (int c = 0; c < 4; ++c) {
                out.at(x, y, c) = value;
            }
        }
    }
    return out;
}

} // namespace

double blackShare(const Raster& mask) {
    size_t black = 0;
    for (float value : mask.pixels) {
        if (toByte(value) == 0) {
            ++black;
        }
    }
    return mask.pixels.empty() ? 0.0 : static_cast<double>(black) / mask.pixels.size();
}

bool buildArtwork(const std::string& fontDir, std::vector<Artwork>& out, std::string& error) {
    out.clear();
    out.push_back({"envflare3.tga", ImageFormat::Tga, drawFlare()});
    out.push_back({"ventillator.tga", ImageFormat::Tga, drawFan()});
    out.push_back({"hairline.png", ImageFormat::Png, drawHairline()});
    out.push_back({"vignette.png", ImageFormat::Png, drawVignette()});
    out.push_back({"frame.png", ImageFormat::Png, drawFrame()});
    for (const TextRecipe& recipe : kTextRecipes) {
        Raster image;
        if (!drawText(recipe, fontDir, image, error)) {
            return false;
        }
        out.push_back({recipe.name, ImageFormat::Png, std::move(image)});
    }
    return true;
}
