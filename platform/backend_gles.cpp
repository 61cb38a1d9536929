// lumenfall-gles: the ES 2.0 context comes from EGL and the program calls libGLESv2 directly.

#include "platform/GraphicsBackend.h"

#include <GLFW/glfw3.h>

void backendWindowHints() {
    glfwWindowHint(GLFW_CONTEXT_CREATION_API, GLFW_EGL_CONTEXT_API);
}

bool backendLoadEntryPoints() {
    return true;
}
