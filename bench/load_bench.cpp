// Loading and drawing on the real content, on an offscreen 1280 x 720 ES 2.0 context (Mesa's
// software driver when there is no GPU): how long each kind of loading work takes, the whole
// road from opening the music to the first frame of the show, frames per second of each scene,
// and the peak resident set. Run it in the build folder, beside demo.dat and assets/.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/Demo.h"
#include "demo/Music.h"
#include "ife/Ife.h"
#include "loader/Loader.h"
#include "parts/Part.h"
#include "parts/Part03.h"
#include "platform/OffscreenContext.h"
#include "platform/gl.h"
#include "program/Program.h"
#include "progress/Progress.h"
#include "random/Random.h"
#include "report/Errors.h"
#include "texture/Texture.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename Body> double timeMs(Body body) {
    const Clock::time_point start = Clock::now();
    body();
    return msSince(start);
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : ".";
    std::filesystem::current_path(folder);
    if (!std::filesystem::exists("assets/music.ogg")) {
        std::fprintf(stderr, "no built content in %s\n", folder.c_str());
        return 1;
    }
    OffscreenContext context;
    if (!context.create(1280, 720)) {
        std::fprintf(stderr, "no offscreen context: %s\n", context.error().c_str());
        return 1;
    }
    std::printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    // The archive, as the program opens it before anything else.
    const double archiveMs = timeMs([] { Loader::Open("demo.dat"); });
    std::printf("archive mode: %s\n", Loader::archiveMode() ? "demo.dat" : "assets/");
    progressResetForCounting();

    // Each kind of loading work on its own, on cold caches (emptied again afterwards).
    std::vector<glm::vec3> scratch;
    const double cloudMs = timeMs([&] { Demo::buildRandomCloud(scratch, false); });
    Demo probe;
    Demo::buildRandomCloud(probe.randomPoints, false);
    const double directionsMs =
        timeMs([&] { Demo::buildRandomDirections(probe.randomDirections, false); });
    double strandsMs = 0.0;
    {
        Part03 part(&probe);
        strandsMs = timeMs([&] { part.buildStrands(false); });
    }
    double shadersMs = 0.0;
    for (const char* name :
         {"particle.glsl", "particlePart01.glsl", "particlePart02.glsl", "particlePart03.glsl",
          "particlePart04.glsl", "particlePart051.glsl", "particlePart052.glsl", "ife.glsl"}) {
        Program program;
        shadersMs += timeMs([&] { program.Load(name); });
    }
    double texturesMs = 0.0;
    {
        Texture texture;
        texturesMs += timeMs([&] { Texture::Load(texture, "envflare3.tga"); });
        for (const char* name : {"overlay.ife", "racs.ife", "credits.ife", "vege.ife"}) {
            Ife model; // its sprites' images; the ife shader is cached by now
            texturesMs += timeMs([&] { model.load(name); });
        }
    }
    Program::ClearCache();
    Texture::ClearCache();

    // The real road: music open, the Demo build, the first frame.
    progressResetForCounting();
    Music music;
    Demo demo;
    demo.setScreenSize(1280, 720);
    const Clock::time_point roadStart = Clock::now();
    progressSetActive(false);
    const bool opened = music.open("music.ogg", 5000, 1.0f);
    progressSetActive(true);
    const double musicMs = msSince(roadStart);
    if (!opened) {
        std::fprintf(stderr, "music open failed: %s\n", errorListText().c_str());
        return 1;
    }
    const Clock::time_point buildStart = Clock::now();
    if (!demo.build(music.lengthMs())) {
        std::fprintf(stderr, "build failed: %s\n", errorListText().c_str());
        return 1;
    }
    const double buildMs = msSince(buildStart);
    const int steps = progress().position;
    const double firstFrameMs = timeMs([&] {
        demo.drawFrame(0);
        glFinish();
    });
    const double roadMs = msSince(roadStart);

    std::printf("\nloading, ms (each part on cold caches)\n");
    std::printf("  archive open (before the music)    %8.1f\n", archiveMs);
    std::printf("  random point cloud                 %8.1f\n", cloudMs);
    std::printf("  random direction set               %8.1f\n", directionsMs);
    std::printf("  Part 03 strands                    %8.1f\n", strandsMs);
    std::printf("  shader compiles (8 programs)       %8.1f\n", shadersMs);
    std::printf("  texture decodes (flare, 4 .ife)    %8.1f\n", texturesMs);
    std::printf("  music open (header, no decode)     %8.1f\n", musicMs);
    std::printf("  Demo build, everything             %8.1f  (%d progress steps)\n", buildMs,
                steps);
    std::printf("  first frame                        %8.1f\n", firstFrameMs);
    std::printf("  music open -> first frame          %8.1f\n", roadMs);

    // Frames per second of each scene at 1280 x 720, 40 frames spread over its window.
    std::printf("\nframes per second at 1280 x 720\n");
    for (const Part* scene : demo.timeline.scenes) {
        const uint32_t start = scene->startMs + 1;
        const uint32_t span = scene->endMs > start ? scene->endMs - start : 0;
        demo.drawFrame(start);
        glFinish();
        const int frames = 40;
        const double ms = timeMs([&] {
            for (int k = 1; k <= frames; ++k) {
                demo.drawFrame(start + static_cast<uint32_t>(uint64_t{span} * k / frames));
                glFinish();
            }
        });
        std::printf("  %s  %6.1f fps  (%.2f ms a frame)\n", scene->name.c_str(),
                    frames * 1000.0 / ms, ms / frames);
    }

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("\npeak resident set: %.1f MB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
