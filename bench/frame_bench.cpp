// Per-frame CPU work of the three scenes that touch particles on the CPU, at their heaviest,
// and the CPU side of loading (random sets, strands). Each scene loop runs next to its plain
// reference so both figures come from the same run. Counters: ns per particle and the share
// of a 16.7 ms frame one call takes.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "demo/Demo.h"
#include "parts/Part01.h"
#include "parts/Part02.h"
#include "parts/Part03.h"
#include "progress/Progress.h"
#include "random/Random.h"
#include "support/SceneReference.h"

namespace {

constexpr double kFrameMs = 1000.0 / 60.0;

// A Demo with its random sets and the three scenes' CPU halves ready, built once.
struct Scenes {
    Scenes() {
        progressSetActive(false);
        Demo::buildRandomCloud(demo.randomPoints, false);
        Demo::buildRandomDirections(demo.randomDirections, false);
        demo.sharedParticles.particles.assign(kSharedParticles, Particle{});

        part01 = std::make_unique<Part01>(&demo);
        part01->fillParticles();

        part02 = std::make_unique<Part02>(&demo);
        part02->fillParticles();
        loadMask();

        part03 = std::make_unique<Part03>(&demo);
        Random::srand(1);
        part03->buildStrands(false);
    }

    // The real mask when the content is built, else a ring like it.
    void loadMask() {
        namespace fs = std::filesystem;
        const fs::path built = fs::path(LUMENFALL_BINARY_DIR);
        fs::path dir = built;
        if (!fs::exists(built / "assets/ventillator.tga")) {
            dir = fs::temp_directory_path() / "lumenfall-bench";
            fs::create_directories(dir / "assets");
            std::vector<uint8_t> bytes(kMaskHeaderBytes, 0);
            bytes[2] = 3;
            bytes[13] = 1;
            bytes[15] = 1;
            bytes[16] = 8;
            for (int y = 0; y < 256; ++y)
                for (int x = 0; x < 256; ++x) {
                    const int dx = x - 128, dy = y - 128;
                    const int r2 = dx * dx + dy * dy;
                    bytes.push_back(r2 < 110 * 110 && r2 > 30 * 30 ? 0 : 255);
                }
            std::FILE* file = std::fopen((dir / "assets/ventillator.tga").c_str(), "wb");
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
            std::printf("bench: no built mask, using a synthetic ring\n");
        }
        const fs::path previous = fs::current_path();
        fs::current_path(dir);
        part02->loadMask();
        fs::current_path(previous);
        part02->particleGroups.reset(new int32_t[part02->particleCount]);
        for (uint32_t j = 0; j < part02->particleCount; ++j)
            part02->particleGroups[j] = static_cast<int32_t>(j & 15);
    }

    Demo demo;
    std::unique_ptr<Part01> part01;
    std::unique_ptr<Part02> part02;
    std::unique_ptr<Part03> part03;
};

Scenes& scenes() {
    static Scenes instance;
    return instance;
}

// Times the loop body with the benchmark's clock and reports per-particle and frame figures.
template <typename Body> void timeFrames(benchmark::State& state, uint32_t particles, Body body) {
    for (auto _ : state) {
        body();
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_particle"] = benchmark::Counter(
        static_cast<double>(particles),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * particles);
}

// Part 01 at its heaviest: 11000 colours (after 33 s, before pattern 12).
constexpr uint32_t kPart01Time = 60000;
constexpr uint32_t kPart01Count = 11000;

void setPart01Sync(Demo& demo) {
    demo.sync.pattern = 6;
    demo.sync.trackLevels.fill(0.4f);
}

void BM_Part01Colors_Reference(benchmark::State& state) {
    Scenes& s = scenes();
    setPart01Sync(s.demo);
    Particle* out = s.part01->particleSet.particles.data();
    timeFrames(state, kPart01Count,
               [&] { reference::part01Colors(s.demo, kPart01Time, kPart01Count, out); });
}
BENCHMARK(BM_Part01Colors_Reference);

void BM_Part01Colors(benchmark::State& state) {
    Scenes& s = scenes();
    setPart01Sync(s.demo);
    timeFrames(state, kPart01Count, [&] { s.part01->updateColors(kPart01Time, kPart01Count); });
}
BENCHMARK(BM_Part01Colors);

// Part 02: all 40000 particles moved, swirled by an angle that differs per particle (track 2
// is not silent) and looked up in the mask.
constexpr uint32_t kPart02Time = 130000;

void setPart02Sync(Demo& demo) {
    demo.sync.pattern = 14;
    demo.sync.trackLevels.fill(0.6f);
    demo.sync.channelNotes.fill(5);
}

void BM_Part02Particles_Reference(benchmark::State& state) {
    Scenes& s = scenes();
    setPart02Sync(s.demo);
    Particle* out = s.part02->particleSet.particles.data();
    timeFrames(state, 40000, [&] {
        benchmark::DoNotOptimize(reference::part02Particles(s.demo, *s.part02, kPart02Time, out));
    });
}
BENCHMARK(BM_Part02Particles_Reference);

void BM_Part02Particles(benchmark::State& state) {
    Scenes& s = scenes();
    setPart02Sync(s.demo);
    timeFrames(state, 40000,
               [&] { benchmark::DoNotOptimize(s.part02->updateParticles(kPart02Time)); });
}
BENCHMARK(BM_Part02Particles);

// Part 03: 40000 particles, each evaluating its strand and the colour ramp.
constexpr uint32_t kPart03Time = 160000;

void BM_Part03Particles_Reference(benchmark::State& state) {
    Scenes& s = scenes();
    s.demo.sync.trackLevels.fill(0.6f);
    Particle* out = s.demo.sharedParticles.particles.data();
    timeFrames(state, Part03::kStrandCount,
               [&] { reference::part03Particles(s.demo, *s.part03, kPart03Time, out); });
}
BENCHMARK(BM_Part03Particles_Reference);

void BM_Part03Particles(benchmark::State& state) {
    Scenes& s = scenes();
    s.demo.sync.trackLevels.fill(0.6f);
    Particle* out = s.demo.sharedParticles.particles.data();
    timeFrames(state, Part03::kStrandCount, [&] { s.part03->updateParticles(kPart03Time, out); });
}
BENCHMARK(BM_Part03Particles);

// Loading: the two random sets and the strands.
void BM_RandomCloud_Reference(benchmark::State& state) {
    std::vector<glm::vec3> set;
    for (auto _ : state)
        reference::randomCloud(set);
}
BENCHMARK(BM_RandomCloud_Reference)->Unit(benchmark::kMillisecond);

void BM_RandomCloud(benchmark::State& state) {
    std::vector<glm::vec3> set;
    for (auto _ : state)
        Demo::buildRandomCloud(set, false);
}
BENCHMARK(BM_RandomCloud)->Unit(benchmark::kMillisecond);

void BM_RandomDirections_Reference(benchmark::State& state) {
    std::vector<glm::vec3> set;
    for (auto _ : state)
        reference::randomDirections(set);
}
BENCHMARK(BM_RandomDirections_Reference)->Unit(benchmark::kMillisecond);

void BM_RandomDirections(benchmark::State& state) {
    std::vector<glm::vec3> set;
    for (auto _ : state)
        Demo::buildRandomDirections(set, false);
}
BENCHMARK(BM_RandomDirections)->Unit(benchmark::kMillisecond);

void BM_Part03Strands(benchmark::State& state) {
    Scenes& s = scenes();
    Part03 part(&s.demo);
    for (auto _ : state) {
        Random::srand(1);
        part.buildStrands(false);
    }
}
BENCHMARK(BM_Part03Strands)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
