#pragma once
// The loading bar: one process-wide state, a step that draws and presents the bar and keeps
// the window responsive, and the check of the step count against the expected total.

#include <functional>
#include <string>

#include "program/Program.h"

struct GLFWwindow;

constexpr int kProgressTotal = 342;

struct Progress {
    int total = 0;
    int position = 0;
    float barEnd = 0.0f;
    bool active = true;
    Program program;
    GLFWwindow** window = nullptr;
    std::function<void()> onClose;
};

Progress& progress();

bool progressInit();  // loads "progressBar.glsl"
void progressStep();
std::string progressCheck();  // "" when the count matches the total
void progressSetActive(bool active);
void progressSetWindow(GLFWwindow** window);
// What a step does when the window is closed (Escape or the close box) during loading: the
// entry point's own shutdown, which ends the process. Without one the step ends it at once.
void progressSetOnClose(std::function<void()> onClose);

// Tests and the capture tool count steps without a window: active, total 342, position 0.
void progressResetForCounting();
