#include "platform/OffscreenContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES2/gl2.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// eglTerminate ends every context on the display, and the display handle is shared by
// every context of the process: terminate only when the last one goes.
int liveContexts = 0;

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

bool OffscreenContext::create(int width, int height) {
    destroy();
    lastError.clear();
    if (width <= 0 || height <= 0) {
        lastError = "offscreen size must be positive";
        return false;
    }

    // Mesa's software rasteriser compiles shaders for the processor it runs on (AVX2, FMA,
    // AVX-512 where there are), and those round differently: pinned to SSE2, which every
    // x86-64 processor has, offscreen pictures are the same bits on all of them. Read once,
    // when the driver loads; a value the user set stands. Other drivers ignore it.
    setenv("GALLIUM_OVERRIDE_CPU_CAPS", "sse2", 0);

    // Display and API
    EGLDisplay display = openDisplay();
    if (display == EGL_NO_DISPLAY) {
        lastError = eglErrorText("no EGL display");
        return false;
    }
    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        lastError = eglErrorText("eglInitialize failed");
        return false;
    }
    eglDisplay = display;
    ++liveContexts;
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    if (extensions == nullptr ||
        std::strstr(extensions, "EGL_KHR_surfaceless_context") == nullptr) {
        lastError = "EGL_KHR_surfaceless_context is not supported";
        destroy();
        return false;
    }
    if (!eglBindAPI(EGL_OPENGL_ES_API)) {
        lastError = eglErrorText("eglBindAPI(EGL_OPENGL_ES_API) failed");
        destroy();
        return false;
    }

    // An ES 2 context. Nothing is drawn to a surface, so any surface type will do (the
    // default asks for window surfaces, which the surfaceless platform has none of).
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT, EGL_SURFACE_TYPE, 0,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configCount) || configCount < 1) {
        lastError = eglErrorText("no EGL config for OpenGL ES 2");
        destroy();
        return false;
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT) {
        lastError = eglErrorText("eglCreateContext failed");
        destroy();
        return false;
    }
    eglContext = context;
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        lastError = eglErrorText("eglMakeCurrent without a surface failed");
        destroy();
        return false;
    }

    // Colour target: an RGBA8 texture attached to a framebuffer object that stays bound.
    GLuint texture = 0;
    glGenTextures(1, &texture);
    colorTexture = texture;
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);

    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    framebufferObject = framebuffer;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        char text[64];
        std::snprintf(text, sizeof text, "framebuffer incomplete (0x%04X)", status);
        lastError = text;
        destroy();
        return false;
    }
    pixelWidth = width;
    pixelHeight = height;
    glViewport(0, 0, width, height);
    return true;
}

void OffscreenContext::destroy() {
    if (eglDisplay == nullptr) {
        return;
    }
    EGLDisplay display = static_cast<EGLDisplay>(eglDisplay);
    if (eglContext != nullptr) {
        if (eglGetCurrentContext() == static_cast<EGLContext>(eglContext)) {
            // GL objects only go with a current context.
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            if (framebufferObject != 0) {
                GLuint framebuffer = framebufferObject;
                glDeleteFramebuffers(1, &framebuffer);
            }
            if (colorTexture != 0) {
                GLuint texture = colorTexture;
                glDeleteTextures(1, &texture);
            }
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        }
        eglDestroyContext(display, static_cast<EGLContext>(eglContext));
    }
    framebufferObject = 0;
    colorTexture = 0;
    eglContext = nullptr;
    eglDisplay = nullptr;
    pixelWidth = 0;
    pixelHeight = 0;
    if (--liveContexts == 0) {
        eglTerminate(display);
        eglReleaseThread();
    }
}

void OffscreenContext::readPixels(std::vector<uint8_t>& rgba) const {
    rgba.clear();
    if (eglContext == nullptr) {
        return;
    }
    const size_t rowBytes = static_cast<size_t>(pixelWidth) * 4;
    std::vector<uint8_t> bottomUp(rowBytes * static_cast<size_t>(pixelHeight));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, pixelWidth, pixelHeight, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    rgba.resize(bottomUp.size());
    for (int row = 0; row < pixelHeight; ++row) {
        std::memcpy(rgba.data() + static_cast<size_t>(row) * rowBytes,
                    bottomUp.data() + static_cast<size_t>(pixelHeight - 1 - row) * rowBytes,
                    rowBytes);
    }
}

bool OffscreenContext::savePng(const std::string& path) const {
    std::vector<uint8_t> rgba;
    readPixels(rgba);
    if (rgba.empty()) {
        return false;
    }
    // A screen shows no alpha: blending leaves it below 1, which viewers would show as grey.
    for (size_t i = 3; i < rgba.size(); i += 4) {
        rgba[i] = 255;
    }
    return stbi_write_png(path.c_str(), pixelWidth, pixelHeight, 4, rgba.data(), pixelWidth * 4) !=
           0;
}
