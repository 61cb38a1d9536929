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

    const std::string& error() const { return lastError; }
    int width() const { return pixelWidth; }
    int height() const { return pixelHeight; }

    // RGBA rows, top row first (the GL's bottom-up rows flipped).
    void readPixels(std::vector<uint8_t>& rgba) const;
    bool savePng(const std::string& path) const;

private:
    void* eglDisplay = nullptr;
    void* eglContext = nullptr;
    uint32_t framebufferObject = 0;
    uint32_t colorTexture = 0;
    std::string lastError;
    int pixelWidth = 0;
    int pixelHeight = 0;
};
