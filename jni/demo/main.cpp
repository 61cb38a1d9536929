// The entry point: opens the assets, asks for a screen mode, opens the window and its
// OpenGL ES 2.0 context, loads everything behind the loading bar, then draws the frame
// for the music's position until Escape, the close box or the end of the music.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <GLFW/glfw3.h>

#include "Demo.h"
#include "Music.h"
#include "Settings.h"
#include "loader/Loader.h"
#include "platform/AppIcon.h"
#include "platform/AudioClock.h"
#include "platform/GraphicsBackend.h"
#include "platform/MessageBox.h"
#include "platform/SetupDialog.h"
#include "platform/gl.h"
#include "progress/Progress.h"
#include "report/Errors.h"

const char* const kProductionTitle = "lumenfall";

namespace {

constexpr uint64_t kEndMarginBytes = 5000;

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void errorCallback(int code, const char* description) {
    char text[1024];
    std::snprintf(text, sizeof text, "GLFW Error 0x%x: %s\n", static_cast<unsigned>(code),
                  description != nullptr ? description : "");
    reportError(text);
}

void keyCallback(GLFWwindow* window, int key, int /*scancode*/, int action, int /*mods*/) {
    if (key == GLFW_KEY_ESCAPE && action == GLFW_PRESS) {
        glfwSetWindowShouldClose(window, GLFW_TRUE);
    }
}

bool openWindow(GLFWwindow** window, int32_t width, int32_t height, bool fullscreen) {
    glfwSetErrorCallback(errorCallback);
    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_ES_API);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
    backendWindowHints();
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor != nullptr ? glfwGetVideoMode(monitor) : nullptr;
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    // A full-screen window would minimise itself whenever a message box takes the focus;
    // without a window manager that supports it, GLFW reports each attempt as an error.
    glfwWindowHint(GLFW_AUTO_ICONIFY, GLFW_FALSE);

    *window =
        glfwCreateWindow(width, height, kProductionTitle, fullscreen ? monitor : nullptr, nullptr);
    if (*window == nullptr) {
        return false;
    }
    if (fullscreen) {
        glfwSetInputMode(*window, GLFW_CURSOR, GLFW_CURSOR_HIDDEN);
    } else if (mode != nullptr) {
        glfwSetWindowPos(*window, mode->width / 2 - width / 2, mode->height / 2 - height / 2);
    }
    const std::vector<uint8_t> iconPixels = makeAppIcon();
    GLFWimage icon{kIconSize, kIconSize, const_cast<unsigned char*>(iconPixels.data())};
    glfwSetWindowIcon(*window, 1, &icon);
    glfwSetKeyCallback(*window, keyCallback);
    glfwMakeContextCurrent(*window);
    return true;
}

// Escape or the close box during loading, from inside a loading step: the shutdown order
// without the Demo, which is half built further up this very call (its memory and GL objects
// go with the process and the context). Terminating GLFW restores a changed screen mode.
[[noreturn]] void leaveDuringLoading(GLFWwindow*& window, Music& music) {
    glfwDestroyWindow(window);
    window = nullptr;
    glfwTerminate();
    music.teardown();
    std::exit(0);
}

// Everything after the window exists; the Demo dies here, while the context is current.
int runShow(GLFWwindow*& window, Music& music, const Settings& settings) {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glfwSwapBuffers(window);
    // Every loading step presents the bar; waiting for the display's refresh at each of the
    // 343 presents would hold the loading screen for almost six seconds at 60 Hz.
    glfwSwapInterval(0);

    if (!progressInit()) {
        return showFatal(errorListText());
    }
    progressSetWindow(&window);
    progressSetOnClose([&window, &music] { leaveDuringLoading(window, music); });
    auto demo = std::make_unique<Demo>();
    demo->setScreenSize(settings.width, settings.height);

    // Loading the music never moves the bar.
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
    progressSetOnClose(nullptr);
    // The show itself follows the display's refresh again, as drivers do by default.
    glfwSwapInterval(1);
    music.play();

    const uint64_t endPosition = music.endPositionBytes();
    const uint32_t endMs = music.lengthMs() > 0 ? static_cast<uint32_t>(music.lengthMs()) : 0;
    // Each frame shows the music heard when it is seen, a render and a presentation after the
    // clock is read.
    PresentationLead lead;
    while (!glfwWindowShouldClose(window)) {
        const double readSeconds = monotonicSeconds();
        const uint64_t position = music.positionBytes();
        demo->drawFrame(lead.drawTime(music.positionMs(position), endMs));
        glfwPollEvents();
        glfwSwapBuffers(window);
        lead.presented(readSeconds, monotonicSeconds());
        if (position >= endPosition || music.ended()) {
            break;
        }
    }
    return 0;
}

} // namespace

int main() {
    Loader::Open("demo.dat");

    Settings settings;
    if (!glfwInit()) {
        return 0;
    }
    settings.title = kProductionTitle;

    initGtkOnce();
    int modeCount = 0;
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* modes =
        monitor != nullptr ? glfwGetVideoModes(monitor, &modeCount) : nullptr;
    DialogChoice choice;
    choice.fullscreen = settings.fullscreen;
    if (runSetupDialog(settings.title, modes, modeCount, choice) != 1) {
        glfwTerminate();
        return 0;
    }
    settings.width = choice.width;
    settings.height = choice.height;
    settings.fullscreen = choice.fullscreen;

    int exitCode = 0;
    {
        Music music;
        GLFWwindow* window = nullptr;
        if (!openWindow(&window, settings.width, settings.height, settings.fullscreen)) {
            exitCode = showFatal(errorListText());
        } else if (!backendLoadEntryPoints()) {
            exitCode = 0;
        } else {
            exitCode = runShow(window, music, settings);
        }
        if (window != nullptr) {
            glfwDestroyWindow(window);
        }
        glfwTerminate();
        music.teardown();
    }
    return exitCode;
}
