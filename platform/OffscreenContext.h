#pragma once
// An offscreen OpenGL ES context for the capture program and the GL tests: EGL without a
// window system (no X server needed), rendering into framebuffer objects of the requested
// size. Owns its EGL display, context, colour targets and fences.
//
// It runs on Mesa's software rasteriser (llvmpipe, on EGL's surfaceless platform) or on a
// hardware GPU found through EGL's device enumeration, as asked (see OffscreenRenderer).
//
// With one colour target (the default) it is a plain ES 2.0 context. With more, it asks for
// ES 3.0 so that a frame can be read back while the next one is still being rasterised:
// each target gets a fence after its draws, and reading a target waits for its fence only.

#include <cstdint>
#include <string>
#include <vector>

// Where the pictures are made.
enum class OffscreenRenderer {
    // The software rasteriser held to the instructions every x86-64 processor has (SSE2):
    // the same bits on all of them. Tests and reference pictures use this.
    Portable,
    // The software rasteriser with all of this processor's instructions: faster; pictures
    // may differ slightly from another processor's, never between runs on this one.
    Software,
    // A hardware GPU; fails when there is none.
    Gpu,
    // A hardware GPU when there is one, else Software.
    Auto,
};

class OffscreenContext {
public:
    static constexpr int kMaxTargets = 3;

    OffscreenContext() = default;
    ~OffscreenContext();
    OffscreenContext(const OffscreenContext&) = delete;
    OffscreenContext& operator=(const OffscreenContext&) = delete;

    // Makes the context current with width x height RGBA8 colour targets, target 0 bound.
    // More than one target needs ES 3.0; without it create() fails (the caller can retry
    // with one). The processor pin of Portable is read when the software rasteriser first
    // loads: the first software context of a process decides it for all that follow.
    bool create(int width, int height, int targetCount = 1,
                OffscreenRenderer renderer = OffscreenRenderer::Portable);
    void destroy();

    const std::string& error() const { return errorText; }
    // GL_RENDERER of the context made, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)".
    const std::string& rendererName() const { return rendererText; }
    // Whether the context runs on a hardware GPU (false: the software rasteriser).
    bool onGpu() const { return hardware; }
    // Why Auto found no GPU to use; empty when it did or was not asked.
    const std::string& noGpuReason() const { return noGpuText; }
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
    bool openSoftware(bool es3, std::string& why);
    bool openGpu(bool es3, std::string& why);
    // Initialises eglDisplay and makes a context current on it; on failure leaves nothing
    // behind and says why.
    bool openOn(void* eglDisplay, bool es3, std::string& why);
    void closeContext();

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
    std::string rendererText;
    std::string noGpuText;
    bool hardware = false;
    int targetWidth = 0;
    int targetHeight = 0;
};
