#include "texture/Image.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <malloc.h>

#include <zlib.h>

#include "loader/Asset.h"
#include "progress/Progress.h"
#include "report/Errors.h"

// Every block stb_image allocates is counted against the budget of the decode under way, so
// that no image, whatever its data claims or inflates to, takes more than its declared size
// needs. A refused allocation fails the decode the way an exhausted heap would. The blocks are
// plain malloc blocks (pixels are released with free by whoever holds them).
namespace {

struct DecodeBudget {
    uint64_t limit = 0;
    uint64_t used = 0;
    bool exceeded = false;
};
thread_local DecodeBudget budget;

bool budgetAllows(uint64_t extra) {
    // No decode under way (a caller of stb_image of its own, such as a tool): no budget.
    if (budget.limit == 0) {
        return true;
    }
    if (budget.used > budget.limit || extra > budget.limit - budget.used) {
        budget.exceeded = true;
        return false;
    }
    return true;
}

void budgetRelease(uint64_t size) {
    budget.used -= size < budget.used ? size : budget.used;
}

void* budgetMalloc(size_t size) {
    if (!budgetAllows(size)) {
        return nullptr;
    }
    void* block = std::malloc(size);
    if (block != nullptr) {
        budget.used += malloc_usable_size(block);
    }
    return block;
}

void budgetFree(void* block) {
    if (block != nullptr) {
        budgetRelease(malloc_usable_size(block));
        std::free(block);
    }
}

void* budgetRealloc(void* block, size_t size) {
    if (block == nullptr) {
        return budgetMalloc(size);
    }
    const uint64_t before = malloc_usable_size(block);
    if (size > before && !budgetAllows(size - before)) {
        return nullptr;
    }
    void* grown = std::realloc(block, size);
    if (grown != nullptr) {
        budgetRelease(before);
        budget.used += malloc_usable_size(grown);
    }
    return grown;
}

} // namespace

#define STBI_MALLOC(size) budgetMalloc(size)
#define STBI_REALLOC(pointer, size) budgetRealloc(pointer, size)
#define STBI_FREE(pointer) budgetFree(pointer)
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

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

// What a decode may hold at once: the worst of stb_image's formats keeps a few copies of the
// picture (16-bit PNG rows, its pixels and their 8-bit conversion; JPEG planes rounded up to
// whole 32-pixel blocks), PNG's compressed data gathered in one buffer, and small tables.
constexpr uint64_t kBytesPerPixel = 32;
constexpr uint64_t kFixedBytes = 1u << 20;

uint64_t decodeLimit(int width, int height, uint32_t byteCount) {
    const auto padded = [](int side) { return (static_cast<uint64_t>(side) + 31) / 32 * 32; };
    return padded(width) * padded(height) * kBytesPerPixel + 2 * uint64_t{byteCount} + kFixedBytes;
}

uint32_t bigEndian32(const uint8_t* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           bytes[3];
}

// The bytes a PNG's compressed data inflates to: per row of each interlace pass, a filter byte
// and the packed pixels. 0 for a header stb_image refuses anyway.
uint64_t pngRawBytes(uint32_t width, uint32_t height, int depth, int colourType, int interlace) {
    int channels = 0;
    switch (colourType) {
    case 0:
        channels = 1;
        break;
    case 2:
        channels = 3;
        break;
    case 3:
        channels = 1;
        break;
    case 4:
        channels = 2;
        break;
    case 6:
        channels = 4;
        break;
    default:
        return 0;
    }
    const uint64_t bitsPerPixel = static_cast<uint64_t>(channels) * static_cast<uint64_t>(depth);
    const auto rows = [&](uint64_t w, uint64_t h) {
        return w == 0 || h == 0 ? 0 : h * ((w * bitsPerPixel + 7) / 8 + 1);
    };
    if (interlace == 0) {
        return rows(width, height);
    }
    // The seven passes: first column and row, then the spacing between them.
    static const int kPass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                    {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    uint64_t total = 0;
    for (const auto& p : kPass) {
        const uint64_t w =
            width > static_cast<uint32_t>(p[0]) ? (width - p[0] + p[2] - 1) / p[2] : 0;
        const uint64_t h =
            height > static_cast<uint32_t>(p[1]) ? (height - p[1] + p[3] - 1) / p[3] : 0;
        total += rows(w, h);
    }
    return total;
}

// stb_image inflates a PNG's data into a buffer it doubles for as long as the data lasts, so
// a few MB of zeros under a small header would grow it to gigabytes. Here the data is inflated
// into a small scratch buffer and only counted, and refused the moment it passes what the
// header's size needs (a little slack for encoders that pad). Anything that is not a PNG, or
// that stb_image may read otherwise (a header or data zlib finds corrupt), is left to
// stb_image, under its allocation budget.
bool pngDataFits(const uint8_t* bytes, uint32_t byteCount) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (byteCount < 8 || std::memcmp(bytes, kSignature, 8) != 0) {
        return true;
    }
    z_stream zs{};
    // Raw deflate: the two-byte zlib header is checked here as stb_image checks it, and the
    // iPhone variant has none.
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) {
        return true;
    }
    uint64_t limit = 0;
    uint64_t inflated = 0;
    bool headerless = false;
    bool headerSeen = false;
    bool ended = false;
    bool fits = true;
    uint8_t scratch[32768];
    uint32_t at = 8;
    while (fits && !ended && byteCount - at >= 12) {
        const uint32_t length = bigEndian32(bytes + at);
        const uint8_t* type = bytes + at + 4;
        const uint8_t* data = bytes + at + 8;
        if (length > byteCount - at - 12) {
            break; // cut short: stb_image stops there too
        }
        at += 12 + length;
        if (std::memcmp(type, "CgBI", 4) == 0) {
            headerless = true;
        } else if (std::memcmp(type, "IHDR", 4) == 0 && length >= 13) {
            const uint64_t raw =
                pngRawBytes(bigEndian32(data), bigEndian32(data + 4), data[8], data[9], data[12]);
            limit = raw > 0 ? raw + raw / 64 + 1024 : 0;
        } else if (std::memcmp(type, "IDAT", 4) == 0 && limit > 0) {
            const uint8_t* in = data;
            uint32_t left = length;
            if (!headerless && !headerSeen) {
                // Two header bytes, possibly split across chunks: rare enough to leave alone.
                if (left < 2) {
                    break;
                }
                const int cmf = in[0];
                const int flags = in[1];
                if ((cmf * 256 + flags) % 31 != 0 || (flags & 32) != 0 || (cmf & 15) != 8) {
                    break; // stb_image refuses the header itself
                }
                in += 2;
                left -= 2;
                headerSeen = true;
            }
            zs.next_in = const_cast<Bytef*>(in);
            zs.avail_in = left;
            while (zs.avail_in > 0 && !ended) {
                zs.next_out = scratch;
                zs.avail_out = sizeof scratch;
                const int status = inflate(&zs, Z_NO_FLUSH);
                inflated += sizeof scratch - zs.avail_out;
                if (inflated > limit) {
                    fits = false;
                    break;
                }
                // The end of the stream, or data zlib cannot read; more input is still to come
                // only when this chunk is used up.
                ended = status != Z_OK && !(status == Z_BUF_ERROR && zs.avail_in == 0);
            }
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
    }
    inflateEnd(&zs);
    return fits;
}

// Within the sides and pixel count any image may have; reports when not.
bool sizeInRange(int width, int height) {
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide ||
        static_cast<int64_t>(width) * height > kMaxImagePixels) {
        reportError("image size out of range: " + std::to_string(width) + " x " +
                    std::to_string(height));
        return false;
    }
    return true;
}

// stb_image's reason for the last failure. For an unknown PNG chunk it starts with the chunk's
// four type bytes, which in a damaged file may be nothing readable (or end the text at once).
std::string decoderReason() {
    const char* reason = stbi_failure_reason();
    const std::string text = reason != nullptr ? reason : "";
    bool readable = text.size() >= 4;
    for (const char c : text) {
        readable = readable && c >= 0x20 && c < 0x7f;
    }
    return readable ? text : "corrupt image data";
}

void reportTooMuchData(int width, int height) {
    reportError("image data larger than its size needs: " + std::to_string(width) + " x " +
                std::to_string(height));
}

} // namespace

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
    // A few header bytes can claim gigapixels; look at the size before decoding anything. A
    // header stb_image gives no size for is left to its decoder, within what the largest image
    // may take, for the decoder's own reason why it fails.
    budget = DecodeBudget{decodeLimit(0, 0, byteCount), 0, false};
    const bool sized =
        stbi_info_from_memory(bytes, static_cast<int>(byteCount), &width, &height, &channels) != 0;
    if (sized && !sizeInRange(width, height)) {
        return false;
    }
    if (!pngDataFits(bytes, byteCount)) {
        reportTooMuchData(width, height);
        return false;
    }
    budget =
        sized ? DecodeBudget{decodeLimit(width, height, byteCount), 0, false}
              : DecodeBudget{decodeLimit(kMaxImageSide, kMaxImagePixels / kMaxImageSide, byteCount),
                             0, false};
    image.pixels =
        stbi_load_from_memory(bytes, static_cast<int>(byteCount), &width, &height, &channels, 0);
    const bool exceeded = budget.exceeded;
    budget = DecodeBudget{};
    if (image.pixels == nullptr) {
        if (exceeded) {
            reportTooMuchData(width, height);
        } else {
            reportError(decoderReason());
        }
        return false;
    }
    if (!sized && !sizeInRange(width, height)) {
        image.release();
        return false;
    }
    image.width = width;
    image.height = height;
    image.channels = channels;
    return true;
}
