// The web entry point. The page (web/page.js) offers the start choice and fetches
// "demo.dat"; from the click on, this runs as the desktop entry point does: the assets are
// opened, the loading bar runs while the Demo is built, and the frame for the music's
// position is drawn at every animation frame until the music ends. Escape, or leaving full
// screen, is handled by the page, which ends the show and offers the start choice again.
//
// With "?at=MS" the page asks for the single frame at music time MS instead, drawn as
// lumenfall-capture --at MS draws it: no sound, no loading bar, the same warm-up.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <emscripten.h>
#include <emscripten/html5.h>

#include "demo/Demo.h"
#include "demo/Music.h"
#include "demo/WarmUp.h"
#include "loader/Loader.h"
#include "platform/GraphicsBackend.h"
#include "platform/gl.h"
#include "progress/Progress.h"
#include "report/Errors.h"

namespace {

constexpr uint64_t kEndMarginBytes = 5000;

// clang-format off
// The requested single-frame time, or -1 for the show.
EM_JS(double, pageAtTime, (), { return Module.page.atTime; });

// Waits for "start"; the page has gone full screen by then when that was chosen.
EM_ASYNC_JS(void, pageWaitForStart, (), { await Module.page.waitForStart(); });

// Puts the fetched "demo.dat" into the module's file system. A failed fetch leaves no file,
// and the loader then looks for "./assets/" as the desktop programs do.
EM_ASYNC_JS(void, pageReceiveContent, (), {
    var bytes = await Module.page.content;
    if (bytes) {
        FS.writeFile("demo.dat", bytes);
    }
});

EM_JS(void, pageLoaded, (double barEnd), { Module.page.loaded(barEnd); });
EM_JS(void, pageShowEnded, (), { Module.page.showEnded(); });
EM_JS(void, pageFrameDone, (double t), { Module.page.frameDone(t); });
EM_JS(int, pageEndRequested, (), { return Module.page.endRequested ? 1 : 0; });
// clang-format on

bool canvasSize(int& width, int& height) {
    return emscripten_get_canvas_element_size("#canvas", &width, &height) ==
               EMSCRIPTEN_RESULT_SUCCESS &&
           width > 0 && height > 0;
}

bool createContext(bool keepPicture) {
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_TRUE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    attributes.premultipliedAlpha = EM_FALSE;
    // A single frame stays readable for tests and screenshots.
    attributes.preserveDrawingBuffer = keepPicture ? EM_TRUE : EM_FALSE;
    attributes.majorVersion = 1;
    attributes.minorVersion = 0;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context =
        emscripten_webgl_create_context("#canvas", &attributes);
    if (context <= 0) {
        reportError("WebGL context error");
        return false;
    }
    return emscripten_webgl_make_context_current(context) == EMSCRIPTEN_RESULT_SUCCESS;
}

// The particle programs scale their points with the picture's width (the "screenWidth"
// uniform, given when they were loaded); after a resize every program gets the new width,
// so the picture is the one a window of the new size would have shown from the start.
void setScreenWidthUniforms(float width) {
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    constexpr GLuint kMaxProgramName = 4096;
    for (GLuint name = 1; name < kMaxProgramName; ++name) {
        if (glIsProgram(name) == GL_FALSE) {
            continue;
        }
        const GLint location = glGetUniformLocation(name, "screenWidth");
        if (location >= 0) {
            glUseProgram(name);
            glUniform1f(location, width);
        }
    }
    glUseProgram(static_cast<GLuint>(current));
}

int renderAt(uint32_t t) {
    int width = 0;
    int height = 0;
    if (!canvasSize(width, height) || !createContext(true)) {
        return showFatal(errorListText());
    }
    progressResetForCounting();
    auto demo = std::make_unique<Demo>();
    demo->setScreenSize(width, height);
    // The music gives the show its length; nothing is played.
    Music music;
    progressSetActive(false);
    const bool opened = music.open("music.ogg", kEndMarginBytes, 0.0f);
    progressSetActive(true);
    if (!opened || !demo->build(music.lengthMs())) {
        return showFatal(errorListText());
    }
    progressSetActive(false);
    // The frame a recording at its default rate shows at t.
    warmUp(*demo, t, kRecordingFps);
    demo->drawFrame(t);
    glFinish();
    pageFrameDone(t);
    return 0;
}

int runShow() {
    int width = 0;
    int height = 0;
    if (!canvasSize(width, height) || !createContext(false)) {
        return showFatal(errorListText());
    }
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    backendPresent();

    if (!progressInit()) {
        return showFatal(errorListText());
    }
    GLFWwindow* window = backendCanvasWindow();
    progressSetWindow(&window);
    auto demo = std::make_unique<Demo>();
    demo->setScreenSize(width, height);

    Music music;
    progressSetActive(false);
    if (!music.open("music.ogg", kEndMarginBytes, 1.0f)) {
        return showFatal(errorListText());
    }
    progressSetActive(true);

    if (!demo->build(music.lengthMs())) {
        return showFatal(errorListText());
    }
    const std::string check = progressCheck();
    if (!check.empty()) {
        showFatal(check);
    }
    progressStep();
    backendPresent();
    progressSetWindow(nullptr);
    pageLoaded(progress().barEnd);
    music.play();

    const uint64_t endPosition = music.endPositionBytes();
    while (pageEndRequested() == 0) {
        // The canvas follows the window; the picture stays letterboxed in it.
        int nowWidth = 0;
        int nowHeight = 0;
        if (canvasSize(nowWidth, nowHeight) && (nowWidth != width || nowHeight != height)) {
            width = nowWidth;
            height = nowHeight;
            demo->setScreenSize(width, height);
            setScreenWidthUniforms(static_cast<float>(demo->screenWidth));
        }
        const uint64_t position = music.positionBytes();
        const uint32_t t = music.positionMs(position);
        demo->drawFrame(t);
        pageFrameDone(t);
        backendPresent();
        if (position >= endPosition) {
            break;
        }
    }
    demo.reset();
    music.teardown();
    pageShowEnded();
    return 0;
}

} // namespace

int main() {
    const double at = pageAtTime();
    if (at < 0) {
        pageWaitForStart();
    }
    pageReceiveContent();
    Loader::Open("demo.dat");
    if (at >= 0) {
        return renderAt(static_cast<uint32_t>(at));
    }
    return runShow();
}
