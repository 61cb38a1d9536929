#pragma once
// An offscreen OpenGL ES context for the capture program and the GL tests: EGL on Mesa's
// surfaceless platform (no X server needed), rendering into framebuffer objects of the
// requested size. Owns its EGL display, context, colour targets and fences.
//
// With one colour target (the default) it is a plain ES 2.0 context. With more, it asks for
// ES 3.0 so that a frame can be read back while the next one is still being rasterised:
// each target gets a fence after its draws, and reading a target waits for its fence only.

#include <cstdint>
#include <string>
#include <vector>

class OffscreenContext {
public:
    static constexpr int kMaxTargets = 3;

    OffscreenContext() = default;
    ~OffscreenContext();
    OffscreenContext(const OffscreenContext&) = delete;
    OffscreenContext& operator=(const OffscreenContext&) = delete;

    // Makes the context current with width x height RGBA8 colour targets, target 0 bound.
    // More than one target needs ES 3.0; without it create() fails (the caller can retry
    // with one). A portable context draws the same bits on every x86-64 processor; a native
    // one lets the software rasteriser use all of this processor's instructions, which is
    // faster and may differ slightly from another processor's pictures.
    bool create(int width, int height, int targetCount = 1, bool portable = true);
    void destroy();

    const std::string& error() const { return errorText; }
    int width() const { return targetWidth; }
    int height() const { return targetHeight; }
    int targetCount() const { return static_cast<int>(targets.size()); }

    // Draws go to target index from here on.
    void bindTarget(int index);
    // After a frame's draws into target index: hands them to the rasteriser and fences them.
    void endFrame(int index);
    // Waits for target index's fence and reads it into bottomUp (width * height * 4 bytes,
    // GL row order: bottom row first).
    bool readTarget(int index, uint8_t* bottomUp);

    // The bound target as RGBA rows, top row first.
    void readPixels(std::vector<uint8_t>& rgba) const;
    bool savePng(const std::string& path) const;
    // A frame as readTarget() gives it, saved as an opaque PNG picture.
    static bool saveBottomUpPng(const std::string& path, const uint8_t* bottomUp, int width,
                                int height);

private:
    struct Target {
        uint32_t framebuffer = 0;
        uint32_t colorBuffer = 0;
        void* fence = nullptr;
    };

    void* display = nullptr;
    void* context = nullptr;
    std::vector<Target> targets;
    int boundTarget = 0;
    std::string errorText;
    int targetWidth = 0;
    int targetHeight = 0;
};
