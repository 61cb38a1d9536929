// lumenfall-web: the ES 2.0 context is WebGL 1 on the page's canvas, made by the web entry
// point. The window the loading bar presents to is that canvas; presenting hands the page
// back to the browser until its next animation frame, which shows what was drawn so far.

#include "platform/GraphicsBackend.h"

#include <GLFW/glfw3.h>
#include <emscripten.h>

// The canvas, as the loading bar sees it: nothing to poll, never closed from here (the page
// itself ends the show on Escape or when full screen is left).
struct GLFWwindow {};

namespace {

// clang-format off
EM_ASYNC_JS(void, waitForAnimationFrame, (), {
    await new Promise(function(resolve) { requestAnimationFrame(function() { resolve(); }); });
});
// clang-format on

} // namespace

void backendWindowHints() {}

bool backendLoadEntryPoints() {
    return true;
}

GLFWwindow* backendCanvasWindow() {
    static GLFWwindow canvas;
    return &canvas;
}

void backendPresent() {
    waitForAnimationFrame();
}

extern "C" {

void glfwPollEvents() {}

int glfwWindowShouldClose(GLFWwindow* /*window*/) {
    return GLFW_FALSE;
}

void glfwSwapBuffers(GLFWwindow* /*window*/) {
    backendPresent();
}

} // extern "C"
