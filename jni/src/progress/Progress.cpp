#include "progress/Progress.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <GLFW/glfw3.h>

#include "platform/gl.h"

namespace {

void drawBar(const Progress& state) {
    if (state.program.program == 0) {
        return;
    }
    const GLfloat vertices[8] = {
        -1.0f, 0.125f, state.barEnd, 0.125f, -1.0f, -0.125f, state.barEnd, -0.125f,
    };
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, vertices);
    glUseProgram(state.program.program);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glUseProgram(0);
    glDisableVertexAttribArray(0);
}

}  // namespace

Progress& progress() {
    static Progress state;
    return state;
}

bool progressInit() {
    Progress& state = progress();
    state.active = false;
    state.total = kProgressTotal;
    if (!state.program.Load("progressBar.glsl")) {
        return false;
    }
    state.active = true;
    return true;
}

void progressStep() {
    Progress& state = progress();
    if (!state.active) {
        return;
    }
    state.barEnd = state.total > 0
                       ? static_cast<float>(2.0 * state.position / state.total - 1.0)
                       : -1.0f;
    ++state.position;
    drawBar(state);
    if (state.window == nullptr || *state.window == nullptr) {
        return;
    }
    glfwPollEvents();
    if (glfwWindowShouldClose(*state.window)) {
        // Closing the window while loading ends the program: through the entry point's
        // shutdown, which restores the screen mode, or at once when it gave none.
        if (state.onClose) {
            state.onClose();
        }
        std::exit(0);
    }
    // Presenting can cost more than the step itself (a software driver copies the whole
    // frame to the X server), so the bar is shown at most 30 times a second. The bar only
    // grows, so a later present shows everything drawn since; the first and the last step,
    // which draws the bar full, are always shown.
    const auto now = std::chrono::steady_clock::now();
    static std::chrono::steady_clock::time_point lastPresent;
    if (state.position == 1 || state.position > state.total ||
        now - lastPresent >= std::chrono::milliseconds(33)) {
        glfwSwapBuffers(*state.window);
        lastPresent = now;
    }
}

std::string progressCheck() {
    const Progress& state = progress();
    if (state.position == state.total) {
        return "";
    }
    char text[64];
    std::snprintf(text, sizeof text, "progress position = %d", state.position);
    return text;
}

void progressSetActive(bool active) { progress().active = active; }

void progressSetWindow(GLFWwindow** window) { progress().window = window; }

void progressSetOnClose(std::function<void()> onClose) {
    progress().onClose = std::move(onClose);
}

void progressResetForCounting() {
    Progress& state = progress();
    state.total = kProgressTotal;
    state.position = 0;
    state.barEnd = 0.0f;
    state.active = true;
    state.program = Program();
    state.window = nullptr;
    state.onClose = nullptr;
}
