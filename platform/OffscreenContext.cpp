#include "platform/OffscreenContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
// The ES 3.0 header also declares everything ES 2.0 has; a 2.0 context uses only that part.
#include <GLES3/gl3.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

// eglTerminate ends every context on a display, and a display handle is shared by every
// context of the process made on it: terminate a display only when its last context goes.
std::map<EGLDisplay, int> liveContexts;

bool hasExtension(const char* list, const char* name) {
    if (list == nullptr) {
        return false;
    }
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(list, name); at != nullptr; at = std::strstr(at + 1, name)) {
        if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) {
            return true;
        }
    }
    return false;
}

PFNEGLGETPLATFORMDISPLAYEXTPROC platformDisplayEntry() {
    return reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
}

EGLDisplay surfacelessDisplay() {
    auto getPlatformDisplay = platformDisplayEntry();
    if (getPlatformDisplay != nullptr &&
        hasExtension(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS),
                     "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display =
            getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY) {
            return display;
        }
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

// The devices EGL can list (every vendor's, in the order the vendors load), or none when
// EGL cannot list them or open a display on one.
std::vector<EGLDeviceEXT> listDevices() {
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto queryDevices =
        reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    if (queryDevices == nullptr || platformDisplayEntry() == nullptr ||
        !hasExtension(client, "EGL_EXT_device_enumeration") ||
        !hasExtension(client, "EGL_EXT_platform_device")) {
        return {};
    }
    constexpr EGLint kMaxDevices = 32;
    std::vector<EGLDeviceEXT> devices(kMaxDevices);
    EGLint count = 0;
    if (!queryDevices(kMaxDevices, devices.data(), &count) || count < 0) {
        return {};
    }
    devices.resize(static_cast<size_t>(count));
    return devices;
}

const char* deviceString(EGLDeviceEXT device, EGLint name) {
    auto queryString = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(
        eglGetProcAddress("eglQueryDeviceStringEXT"));
    return queryString != nullptr ? queryString(device, name) : nullptr;
}

// Mesa lists its software rasteriser as a device of its own.
bool isSoftwareDevice(EGLDeviceEXT device) {
    return hasExtension(deviceString(device, EGL_EXTENSIONS), "EGL_MESA_device_software");
}

std::string deviceName(EGLDeviceEXT device, size_t index) {
    const char* extensions = deviceString(device, EGL_EXTENSIONS);
    const char* file = hasExtension(extensions, "EGL_EXT_device_drm")
                           ? deviceString(device, EGL_DRM_DEVICE_FILE_EXT)
                           : nullptr;
    return file != nullptr ? std::string(file) : "device " + std::to_string(index);
}

// Renderer names of the CPU rasterisers a GL driver may fall back to.
bool isSoftwareRenderer(const std::string& name) {
    std::string lower = name;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const char* cpu : {"llvmpipe", "softpipe", "software", "swrast", "swiftshader"}) {
        if (lower.find(cpu) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Sets an environment variable for as long as the object lives, then puts back what was.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* variable, const char* value) : name(variable) {
        const char* before = std::getenv(variable);
        hadValue = before != nullptr;
        if (hadValue) {
            oldValue = before;
        }
        setenv(variable, value, 1);
    }
    ~ScopedEnvironment() {
        if (hadValue) {
            setenv(name, oldValue.c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name;
    bool hadValue = false;
    std::string oldValue;
};

std::string eglErrorText(const char* what) {
    char code[32];
    std::snprintf(code, sizeof code, " (EGL error 0x%04X)", static_cast<unsigned>(eglGetError()));
    return std::string(what) + code;
}

} // namespace

OffscreenContext::~OffscreenContext() {
    destroy();
}

bool OffscreenContext::create(int width, int height, int targetCount, OffscreenRenderer renderer) {
    destroy();
    errorText.clear();
    noGpuText.clear();
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
    if (renderer == OffscreenRenderer::Portable) {
        setenv("GALLIUM_OVERRIDE_CPU_CAPS", "sse2", 0);
    }

    // An ES 2 context, or ES 3 for fences and a separate read framebuffer.
    const bool es3 = targetCount > 1;
    std::string why;
    bool opened = false;
    switch (renderer) {
    case OffscreenRenderer::Portable:
    case OffscreenRenderer::Software:
        opened = openSoftware(es3, why);
        break;
    case OffscreenRenderer::Gpu:
        opened = openGpu(es3, why);
        break;
    case OffscreenRenderer::Auto:
        opened = openGpu(es3, noGpuText) || openSoftware(es3, why);
        if (hardware) {
            noGpuText.clear();
        }
        break;
    }
    if (!opened) {
        errorText = why;
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

bool OffscreenContext::openSoftware(bool es3, std::string& why) {
    {
        // On the surfaceless platform Mesa takes a GPU's render node when there is one; told
        // to stay in software it rasterises on the processor wherever it runs.
        ScopedEnvironment softwareOnly("LIBGL_ALWAYS_SOFTWARE", "1");
        EGLDisplay surfaceless = surfacelessDisplay();
        if (surfaceless == EGL_NO_DISPLAY) {
            why = eglErrorText("no EGL display");
        } else if (openOn(surfaceless, es3, why)) {
            if (!hardware) {
                return true;
            }
            why = "the surfaceless platform gave " + rendererText + ", not a software rasteriser";
            closeContext();
        }
    }
    // Another vendor's surfaceless platform: Mesa's software device by name.
    auto getPlatformDisplay = platformDisplayEntry();
    for (EGLDeviceEXT device : listDevices()) {
        if (!isSoftwareDevice(device)) {
            continue;
        }
        EGLDisplay eglDisplay = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
        std::string deviceWhy;
        if (eglDisplay != EGL_NO_DISPLAY && openOn(eglDisplay, es3, deviceWhy)) {
            if (!hardware) {
                return true;
            }
            closeContext();
        }
    }
    return false;
}

bool OffscreenContext::openGpu(bool es3, std::string& why) {
    const std::vector<EGLDeviceEXT> devices = listDevices();
    auto getPlatformDisplay = platformDisplayEntry();
    std::string tried;
    for (size_t i = 0; i < devices.size(); ++i) {
        // The software device is no GPU, and Auto falls back to the surfaceless platform
        // rather than to it.
        if (isSoftwareDevice(devices[i])) {
            continue;
        }
        const std::string name = deviceName(devices[i], i);
        EGLDisplay eglDisplay = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
        std::string deviceWhy;
        if (eglDisplay == EGL_NO_DISPLAY) {
            deviceWhy = eglErrorText("no display");
        } else if (openOn(eglDisplay, es3, deviceWhy)) {
            if (hardware) {
                return true;
            }
            deviceWhy = "renders in software (" + rendererText + ")";
            closeContext();
        }
        tried += (tried.empty() ? "" : "; ") + name + ": " + deviceWhy;
    }
    if (tried.empty()) {
        why = devices.empty() ? "no GPU: EGL lists no devices"
                              : "no GPU: EGL lists only the software rasteriser";
    } else {
        why = "no GPU among EGL's devices (" + tried + ")";
    }
    return false;
}

bool OffscreenContext::openOn(void* displayHandle, bool es3, std::string& why) {
    EGLDisplay eglDisplay = static_cast<EGLDisplay>(displayHandle);
    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(eglDisplay, &major, &minor)) {
        why = eglErrorText("eglInitialize failed");
        return false;
    }
    display = eglDisplay;
    ++liveContexts[eglDisplay];
    if (!hasExtension(eglQueryString(eglDisplay, EGL_EXTENSIONS),
                      "EGL_KHR_surfaceless_context")) {
        why = "EGL_KHR_surfaceless_context is not supported";
        closeContext();
        return false;
    }
    if (!eglBindAPI(EGL_OPENGL_ES_API)) {
        why = eglErrorText("eglBindAPI(EGL_OPENGL_ES_API) failed");
        closeContext();
        return false;
    }

    // Nothing is drawn to a surface, so any surface type will do (the default asks for
    // window surfaces, which the surfaceless platform has none of).
    const EGLint renderable = es3 ? EGL_OPENGL_ES3_BIT_KHR : EGL_OPENGL_ES2_BIT;
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, renderable, EGL_SURFACE_TYPE, 0,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(eglDisplay, configAttributes, &config, 1, &configCount) ||
        configCount < 1) {
        why = eglErrorText(es3 ? "no EGL config for OpenGL ES 3" : "no EGL config for OpenGL ES 2");
        closeContext();
        return false;
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, es3 ? 3 : 2, EGL_NONE};
    EGLContext eglContext = eglCreateContext(eglDisplay, config, EGL_NO_CONTEXT, contextAttributes);
    if (eglContext == EGL_NO_CONTEXT) {
        why = eglErrorText("eglCreateContext failed");
        closeContext();
        return false;
    }
    context = eglContext;
    if (!eglMakeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, eglContext)) {
        why = eglErrorText("eglMakeCurrent without a surface failed");
        closeContext();
        return false;
    }
    const GLubyte* name = glGetString(GL_RENDERER);
    rendererText = name != nullptr ? reinterpret_cast<const char*>(name) : "unknown renderer";
    hardware = !isSoftwareRenderer(rendererText);
    return true;
}

void OffscreenContext::closeContext() {
    if (display == nullptr) {
        return;
    }
    EGLDisplay eglDisplay = static_cast<EGLDisplay>(display);
    if (context != nullptr) {
        if (eglGetCurrentContext() == static_cast<EGLContext>(context)) {
            eglMakeCurrent(eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        }
        eglDestroyContext(eglDisplay, static_cast<EGLContext>(context));
    }
    context = nullptr;
    display = nullptr;
    rendererText.clear();
    hardware = false;
    const auto live = liveContexts.find(eglDisplay);
    if (live != liveContexts.end() && --live->second <= 0) {
        liveContexts.erase(live);
        eglTerminate(eglDisplay);
        if (liveContexts.empty()) {
            eglReleaseThread();
        }
    }
}

void OffscreenContext::destroy() {
    if (display == nullptr) {
        return;
    }
    if (context != nullptr && eglGetCurrentContext() == static_cast<EGLContext>(context)) {
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
    }
    targets.clear();
    boundTarget = 0;
    targetWidth = 0;
    targetHeight = 0;
    closeContext();
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
