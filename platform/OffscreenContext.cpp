#include "platform/OffscreenContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
// The ES 3.0 header also declares everything ES 2.0 has; a 2.0 context uses only that part.
#include <GLES3/gl3.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// eglTerminate ends every context on the display, and the display handle is shared by
// every context of the process: terminate only when the last one goes.
int liveContextCount = 0;

EGLDisplay openDisplay() {
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (getPlatformDisplay != nullptr && clientExtensions != nullptr &&
        std::strstr(clientExtensions, "EGL_MESA_platform_surfaceless") != nullptr) {
        EGLDisplay display =
            getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY) {
            return display;
        }
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

std::string eglErrorText(const char* what) {
    char code[32];
    std::snprintf(code, sizeof code, " (EGL error 0x%04X)", static_cast<unsigned>(eglGetError()));
    return std::string(what) + code;
}

} // namespace

OffscreenContext::~OffscreenContext() {
    destroy();
}

bool OffscreenContext::create(int width, int height, int targetCount, bool portable) {
    destroy();
    errorText.clear();
    if (width <= 0 || height <= 0) {
        errorText = "offscreen size must be positive";
        return false;
    }
    if (targetCount < 1 || targetCount > kMaxTargets) {
        errorText = "unsupported number of colour targets";
        return false;
    }

    // Mesa's software rasteriser compiles shaders for the processor it runs on (AVX2, FMA,
    // AVX-512 where there are), and those round differently: pinned to SSE2, which every
    // x86-64 processor has, offscreen pictures are the same bits on all of them. Read once,
    // when the driver loads; a value the user set stands. Other drivers ignore it.
    if (portable) {
        setenv("GALLIUM_OVERRIDE_CPU_CAPS", "sse2", 0);
    }

    // Display and API
    EGLDisplay eglDisplay = openDisplay();
    if (eglDisplay == EGL_NO_DISPLAY) {
        errorText = eglErrorText("no EGL display");
        return false;
    }
    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(eglDisplay, &major, &minor)) {
        errorText = eglErrorText("eglInitialize failed");
        return false;
    }
    display = eglDisplay;
    ++liveContextCount;
    const char* extensions = eglQueryString(eglDisplay, EGL_EXTENSIONS);
    if (extensions == nullptr ||
        std::strstr(extensions, "EGL_KHR_surfaceless_context") == nullptr) {
        errorText = "EGL_KHR_surfaceless_context is not supported";
        destroy();
        return false;
    }
    if (!eglBindAPI(EGL_OPENGL_ES_API)) {
        errorText = eglErrorText("eglBindAPI(EGL_OPENGL_ES_API) failed");
        destroy();
        return false;
    }

    // An ES 2 context, or ES 3 for fences and a separate read framebuffer. Nothing is drawn to
    // a surface, so any surface type will do (the default asks for window surfaces, which the
    // surfaceless platform has none of).
    const bool es3 = targetCount > 1;
    const EGLint renderable = es3 ? EGL_OPENGL_ES3_BIT_KHR : EGL_OPENGL_ES2_BIT;
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, renderable, EGL_SURFACE_TYPE, 0,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(eglDisplay, configAttributes, &config, 1, &configCount) ||
        configCount < 1) {
        errorText =
            eglErrorText(es3 ? "no EGL config for OpenGL ES 3" : "no EGL config for OpenGL ES 2");
        destroy();
        return false;
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, es3 ? 3 : 2, EGL_NONE};
    EGLContext eglContext = eglCreateContext(eglDisplay, config, EGL_NO_CONTEXT, contextAttributes);
    if (eglContext == EGL_NO_CONTEXT) {
        errorText = eglErrorText("eglCreateContext failed");
        destroy();
        return false;
    }
    context = eglContext;
    if (!eglMakeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, eglContext)) {
        errorText = eglErrorText("eglMakeCurrent without a surface failed");
        destroy();
        return false;
    }

    // Colour targets: RGBA8 textures, each attached to its own framebuffer object.
    targets.resize(static_cast<size_t>(targetCount));
    for (Target& target : targets) {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        target.colorBuffer = texture;
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);

        GLuint framebuffer = 0;
        glGenFramebuffers(1, &framebuffer);
        target.framebuffer = framebuffer;
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
        if (status != GL_FRAMEBUFFER_COMPLETE) {
            char text[64];
            std::snprintf(text, sizeof text, "framebuffer incomplete (0x%04X)", status);
            errorText = text;
            destroy();
            return false;
        }
    }
    targetWidth = width;
    targetHeight = height;
    bindTarget(0);
    glViewport(0, 0, width, height);
    return true;
}

void OffscreenContext::destroy() {
    if (display == nullptr) {
        return;
    }
    EGLDisplay eglDisplay = static_cast<EGLDisplay>(display);
    if (context != nullptr) {
        if (eglGetCurrentContext() == static_cast<EGLContext>(context)) {
            // GL objects only go with a current context.
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            for (Target& target : targets) {
                if (target.fence != nullptr) {
                    glDeleteSync(static_cast<GLsync>(target.fence));
                }
                if (target.framebuffer != 0) {
                    GLuint framebuffer = target.framebuffer;
                    glDeleteFramebuffers(1, &framebuffer);
                }
                if (target.colorBuffer != 0) {
                    GLuint texture = target.colorBuffer;
                    glDeleteTextures(1, &texture);
                }
            }
            eglMakeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        }
        eglDestroyContext(eglDisplay, static_cast<EGLContext>(context));
    }
    targets.clear();
    boundTarget = 0;
    context = nullptr;
    display = nullptr;
    targetWidth = 0;
    targetHeight = 0;
    if (--liveContextCount == 0) {
        eglTerminate(eglDisplay);
        eglReleaseThread();
    }
}

void OffscreenContext::bindTarget(int index) {
    if (index < 0 || index >= targetCount()) {
        return;
    }
    boundTarget = index;
    glBindFramebuffer(GL_FRAMEBUFFER, targets[static_cast<size_t>(index)].framebuffer);
}

void OffscreenContext::endFrame(int index) {
    if (targetCount() < 2 || index < 0 || index >= targetCount()) {
        return; // one target: reading it waits for everything anyway
    }
    Target& target = targets[static_cast<size_t>(index)];
    if (target.fence != nullptr) {
        glDeleteSync(static_cast<GLsync>(target.fence));
    }
    target.fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    // The fence must reach the rasteriser now, not at the next flush.
    glFlush();
}

bool OffscreenContext::readTarget(int index, uint8_t* bottomUp) {
    if (context == nullptr || index < 0 || index >= targetCount()) {
        return false;
    }
    Target& target = targets[static_cast<size_t>(index)];
    // An error left by the frame's drawing is not the read's: only the read is checked.
    for (int pending = 0; pending < 8 && glGetError() != GL_NO_ERROR; ++pending) {
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (targetCount() < 2) {
        glReadPixels(0, 0, targetWidth, targetHeight, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp);
        return glGetError() == GL_NO_ERROR;
    }
    // Wait for this target's fence alone: the frame drawn after it may still be rasterising,
    // and a target that is neither bound for drawing nor pending is read without a flush.
    if (target.fence != nullptr) {
        const GLenum waited =
            glClientWaitSync(static_cast<GLsync>(target.fence), 0, GL_TIMEOUT_IGNORED);
        glDeleteSync(static_cast<GLsync>(target.fence));
        target.fence = nullptr;
        if (waited == GL_WAIT_FAILED) {
            return false;
        }
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, target.framebuffer);
    glReadPixels(0, 0, targetWidth, targetHeight, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, targets[static_cast<size_t>(boundTarget)].framebuffer);
    return glGetError() == GL_NO_ERROR;
}

void OffscreenContext::readPixels(std::vector<uint8_t>& rgba) const {
    rgba.clear();
    if (context == nullptr) {
        return;
    }
    const size_t rowBytes = static_cast<size_t>(targetWidth) * 4;
    std::vector<uint8_t> bottomUp(rowBytes * static_cast<size_t>(targetHeight));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, targetWidth, targetHeight, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    rgba.resize(bottomUp.size());
    for (int row = 0; row < targetHeight; ++row) {
        std::memcpy(rgba.data() + static_cast<size_t>(row) * rowBytes,
                    bottomUp.data() + static_cast<size_t>(targetHeight - 1 - row) * rowBytes,
                    rowBytes);
    }
}

bool OffscreenContext::savePng(const std::string& path) const {
    if (context == nullptr) {
        return false;
    }
    std::vector<uint8_t> bottomUp(static_cast<size_t>(targetWidth) * 4 *
                                  static_cast<size_t>(targetHeight));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, targetWidth, targetHeight, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    return saveBottomUpPng(path, bottomUp.data(), targetWidth, targetHeight);
}

bool OffscreenContext::saveBottomUpPng(const std::string& path, const uint8_t* bottomUp, int width,
                                       int height) {
    if (width <= 0 || height <= 0) {
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> rgba(rowBytes * static_cast<size_t>(height));
    for (int row = 0; row < height; ++row) {
        std::memcpy(rgba.data() + static_cast<size_t>(row) * rowBytes,
                    bottomUp + static_cast<size_t>(height - 1 - row) * rowBytes, rowBytes);
    }
    // A screen shows no alpha: blending leaves it below 1, which viewers would show as grey.
    for (size_t i = 3; i < rgba.size(); i += 4) {
        rgba[i] = 255;
    }
    return stbi_write_png(path.c_str(), width, height, 4, rgba.data(),
                          static_cast<int>(rowBytes)) != 0;
}
