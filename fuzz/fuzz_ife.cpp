// The ".ife" reader on arbitrary text. First the CPU side alone: every data line through
// parseInt and parseKey, the keys so read interpolated at edge times. Then, when an offscreen
// GL context can be made, the real Ife::load in folder mode (with "ife.glsl" and small images
// under every image name the shipped animations use) and a few draws of what loaded.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include <dlfcn.h>

#include "FuzzSupport.h"
#include "ife/Ife.h"
#include "loader/Asset.h"
#include "loader/Loader.h"
#include "platform/OffscreenContext.h"

namespace {

constexpr size_t kMaxKeys = 4096;

OffscreenContext* g_context = nullptr;

void copyFile(const std::string& from, const std::string& to) {
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        std::fprintf(stderr, "fuzz_ife: cannot copy %s: %s\n", from.c_str(), error.message().c_str());
        std::abort();
    }
}

void writeTinyImage(const std::string& name) {
    const std::string tga = fuzz::tinyTga();
    fuzz::writeFile("assets/" + name, reinterpret_cast<const uint8_t*>(tga.data()), tga.size());
}

void parseOnly(const uint8_t* data, size_t size) {
    Asset asset;
    asset.data = new uint8_t[size];
    if (size > 0) {
        std::memcpy(asset.data, data, size);
    }
    asset.size = static_cast<uint32_t>(size);

    IfeSprite sprite;
    while (asset.cursor <= asset.size && sprite.keys.size() < kMaxKeys) {
        const std::string line = readDataLine(asset);
        parseInt(line);
        sprite.keys.push_back(parseKey(line));
    }
    static const float kTimes[] = {-3.0f,
                                   0.0f,
                                   5.0f,
                                   1e9f,
                                   std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::quiet_NaN()};
    for (float t : kTimes) {
        sprite.stateAt(t);
    }
    for (const IfeKey& key : sprite.keys) {
        sprite.stateAt(static_cast<float>(key.time));
        sprite.stateAt(static_cast<float>(key.time) + 0.5f);
    }
}

}  // namespace

// What Mesa keeps for itself (shader caches, driver state) is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:swrast_dri.so\nleak:libgallium\nleak:libLLVM\nleak:libEGL_mesa\nleak:libglapi\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUp();
    // Mesa's software rasteriser without its JIT: code it generates at run time has no symbols,
    // so what it allocates could not be told apart from our own leaks.
    setenv("GALLIUM_DRIVER", "softpipe", 0);
    // Keep Mesa's modules mapped after EGL lets go of them at exit, so that the leak check run
    // then can still name them (and the suppressions above can match).
    for (const char* module : {"libEGL_mesa.so.0", "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"}) {
        dlopen(module, RTLD_NOW | RTLD_NODELETE);
    }
    copyFile(std::string(LUMENFALL_SOURCE_DIR) + "/content/shaders/ife.glsl", "assets/ife.glsl");
    writeTinyImage("a.tga");
    // Every image name the shipped animations use, as a small image, so that seeds made from
    // them load all the way through.
    if (const char* shipped = std::getenv("LUMENFALL_FUZZ_ASSETS")) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(shipped, error)) {
            const auto ext = entry.path().extension();
            if (ext == ".tga" || ext == ".png") {
                writeTinyImage(entry.path().filename().string());
            }
        }
    }
    static OffscreenContext context;
    if (context.create(64, 64)) {
        g_context = &context;
    } else {
        std::fprintf(stderr, "fuzz_ife: no offscreen context (%s): parsing only\n",
                     context.error().c_str());
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::beginInput();
    Loader::Close();  // folder mode
    parseOnly(data, size);
    if (g_context == nullptr) {
        return 0;
    }

    fuzz::writeFile("assets/fuzz.ife", data, size);
    Ife ife;
    if (ife.load("fuzz.ife")) {
        static const float kTimes[] = {-3.0f, 0.0f, 5.0f, 1000.0f, 1e9f};
        for (float t : kTimes) {
            ife.time = t;
            ife.draw();
        }
    }
    return 0;
}
