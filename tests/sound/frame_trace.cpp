// Linked into a copy of lumenfall-gles for the sync measurement (the linker's --wrap sends the
// program's own calls here first): notes, for every frame of the show, when the clock was read,
// what it said, the music time the frame was drawn for, and when the frame's swap returned, all
// on the monotonic clock; and draws the frame that first reaches each whole second of the music
// white, so the picture has a flash to find at every second in every scene. Without
// LUMENFALL_FRAME_TRACE it does nothing but pass the calls on.
//
// LUMENFALL_FRAME_TRACE=path     where the frames go, one line each, when GLFW terminates
// LUMENFALL_TRACE_REFRESH_HZ=hz  a display that waits for its refresh: each swap returns, and
//                                its frame is shown, at the next refresh after the real swap

#include <GLES2/gl2.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

struct GLFWwindow;
class Demo;
class Music;

extern "C" {
void __real_glfwSwapBuffers(GLFWwindow* window);
void __real_glfwTerminate();
uint64_t __real__ZNK5Music13positionBytesEv(const Music* music);
uint32_t __real__ZNK5Music10positionMsEm(const Music* music, uint64_t bytes);
void __real__ZN4Demo9drawFrameEj(Demo* demo, uint32_t ms);
}

namespace {

struct Frame {
    double readStart; // the clock read took place between these two
    double readEnd;
    uint32_t clockMs; // what it said
    uint32_t drawnMs; // the music time drawn
    bool flash;       // drawn white
    double presented; // the swap returned (or the refresh that showed it)
};

struct Trace {
    const char* path = std::getenv("LUMENFALL_FRAME_TRACE");
    double refreshHz = std::getenv("LUMENFALL_TRACE_REFRESH_HZ") != nullptr
                           ? std::atof(std::getenv("LUMENFALL_TRACE_REFRESH_HZ"))
                           : 0.0;
    std::vector<Frame> frames;
    Frame current{};
    bool showing = false; // the frame loop has begun (the loading bar swaps too)
    uint32_t lastSecond = 0;
};

Trace& trace() {
    static Trace instance;
    return instance;
}

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void sleepUntil(double seconds) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(seconds);
    until.tv_nsec = static_cast<long>((seconds - static_cast<double>(until.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
    }
}

void writeTrace() {
    Trace& t = trace();
    FILE* out = std::fopen(t.path, "w");
    if (out == nullptr) {
        std::fprintf(stderr, "frame trace: cannot write %s\n", t.path);
        return;
    }
    std::fprintf(out, "# readStart readEnd clockMs drawnMs flash presented\n");
    for (const Frame& f : t.frames) {
        std::fprintf(out, "%.7f %.7f %u %u %d %.7f\n", f.readStart, f.readEnd, f.clockMs, f.drawnMs,
                     f.flash ? 1 : 0, f.presented);
    }
    std::fclose(out);
}

} // namespace

extern "C" uint64_t __wrap__ZNK5Music13positionBytesEv(const Music* music) {
    Trace& t = trace();
    if (t.path == nullptr) {
        return __real__ZNK5Music13positionBytesEv(music);
    }
    if (!t.showing) {
        t.showing = true;
        t.frames.reserve(1 << 20);
    }
    t.current = Frame{};
    t.current.readStart = monotonicSeconds();
    const uint64_t bytes = __real__ZNK5Music13positionBytesEv(music);
    t.current.readEnd = monotonicSeconds();
    return bytes;
}

extern "C" uint32_t __wrap__ZNK5Music10positionMsEm(const Music* music, uint64_t bytes) {
    const uint32_t ms = __real__ZNK5Music10positionMsEm(music, bytes);
    trace().current.clockMs = ms;
    return ms;
}

extern "C" void __wrap__ZN4Demo9drawFrameEj(Demo* demo, uint32_t ms) {
    __real__ZN4Demo9drawFrameEj(demo, ms);
    Trace& t = trace();
    if (t.path == nullptr || !t.showing) {
        return;
    }
    t.current.drawnMs = ms;
    // The first frame of each whole second: white over the picture (the letterbox's scissor).
    const uint32_t second = ms / 1000;
    if (second > t.lastSecond) {
        t.lastSecond = second;
        t.current.flash = true;
        glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    }
}

extern "C" void __wrap_glfwSwapBuffers(GLFWwindow* window) {
    __real_glfwSwapBuffers(window);
    Trace& t = trace();
    if (t.path == nullptr || !t.showing) {
        return;
    }
    double presented = monotonicSeconds();
    if (t.refreshHz > 0.0) {
        presented = std::floor(presented * t.refreshHz + 1.0) / t.refreshHz;
        sleepUntil(presented);
    }
    t.current.presented = presented;
    t.frames.push_back(t.current);
}

extern "C" void __wrap_glfwTerminate() {
    __real_glfwTerminate();
    if (trace().path != nullptr && trace().showing) {
        writeTrace();
    }
}
