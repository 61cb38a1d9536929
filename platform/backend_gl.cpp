// lumenfall-gl: the ES 2.0 context comes from the desktop driver (GLFW's native context
// creation) and GL entry points are loaded with GLEW.

#include "platform/GraphicsBackend.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

void backendWindowHints() {
    glfwWindowHint(GLFW_CONTEXT_CREATION_API, GLFW_NATIVE_CONTEXT_API);
}

bool backendLoadEntryPoints() {
    glewExperimental = GL_TRUE;
    return glewInit() == GLEW_OK;
}
