#pragma once
// An offscreen OpenGL ES 2.0 context for the capture program and the GL tests: EGL on Mesa's
// surfaceless platform (no X server needed), rendering into a framebuffer object of the
// requested size, which stays bound. Owns its EGL display, context and GL objects.

#include <cstdint>
#include <string>
#include <vector>

class OffscreenContext {
public:
    OffscreenContext() = default;
    ~OffscreenContext();
    OffscreenContext(const OffscreenContext&) = delete;
    OffscreenContext& operator=(const OffscreenContext&) = delete;

    // Makes the context current with a width x height RGBA8 colour target bound.
    bool create(int width, int height);
    void destroy();

    const std::string& error() const { return error_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // RGBA rows, top row first (the GL's bottom-up rows flipped).
    void readPixels(std::vector<uint8_t>& rgba) const;
    bool savePng(const std::string& path) const;

private:
    void* display_ = nullptr;
    void* context_ = nullptr;
    uint32_t framebuffer_ = 0;
    uint32_t colorBuffer_ = 0;
    std::string error_;
    int width_ = 0;
    int height_ = 0;
};
