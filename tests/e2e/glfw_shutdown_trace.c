// Preloaded into the programs by the end-to-end tests: writes a line on stderr when the
// window is destroyed and when GLFW is terminated, then calls the real functions, so a case
// can tell a clean shutdown (which restores a changed screen mode) from a bare exit.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>

typedef struct GLFWwindow GLFWwindow;

void glfwDestroyWindow(GLFWwindow* window) {
    fputs("trace: glfwDestroyWindow\n", stderr);
    void (*real)(GLFWwindow*) = (void (*)(GLFWwindow*))dlsym(RTLD_NEXT, "glfwDestroyWindow");
    real(window);
}

void glfwTerminate(void) {
    fputs("trace: glfwTerminate\n", stderr);
    void (*real)(void) = (void (*)(void))dlsym(RTLD_NEXT, "glfwTerminate");
    real();
}
