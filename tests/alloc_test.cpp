// The frame loop allocates nothing: the Demo is built from the real content on an offscreen
// context, and frames are drawn across every scene window while a counting operator new
// watches. Mesa's software driver compiles a shader variant with LLVM (C++, so through this
// operator new) the first time it meets a new combination of program and state, which can
// happen at any frame where a sprite first appears; so the frames are drawn once to let the
// driver settle, then drawn again, and on that second pass no frame may allocate.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "demo/Demo.h"
#include "loader/Loader.h"
#include "parts/Part.h"
#include "platform/OffscreenContext.h"
#include "platform/gl.h"
#include "program/Program.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"
#include "texture/Texture.h"

namespace {
std::atomic<bool> gCounting{false};
std::atomic<uint64_t> gAllocations{0};
} // namespace

// Every allocation of the process goes through these while the test runs.
void* operator new(std::size_t size) {
    if (gCounting.load(std::memory_order_relaxed))
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (gCounting.load(std::memory_order_relaxed))
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(FrameLoop, AllocatesNothingAfterEachScenesFirstFrame) {
    const std::filesystem::path built(LUMENFALL_BINARY_DIR);
    if (!std::filesystem::exists(built / "assets/music.msd"))
        LUMENFALL_SKIP_OR_FAIL("the content is not built in " << built);

    OffscreenContext context;
    ASSERT_TRUE(context.create(320, 180)) << context.error();
    testing_support::CaptureBoxes boxes;
    testing_support::ScopedChdir in(built.string());
    Loader::Close(); // folder mode: ./assets/
    progressResetForCounting();

    {
        Demo demo;
        demo.setScreenSize(320, 180);
        ASSERT_TRUE(demo.build(216000)) << errorListText();
        ASSERT_EQ(demo.timeline.scenes.size(), 5u);

        // 60 frames through each scene window after its first, then two past the music's end.
        std::vector<uint32_t> times;
        for (const Part* scene : demo.timeline.scenes) {
            const uint32_t start = scene->startMs + 1;
            const uint32_t span = scene->endMs - start;
            for (uint32_t k = 0; k <= 60; ++k)
                times.push_back(start + static_cast<uint32_t>(uint64_t{span} * k / 60));
        }
        times.push_back(216001);
        times.push_back(230000);
        ASSERT_GE(times.size(), 300u);

        for (uint32_t t : times)
            demo.drawFrame(t);
        glFinish();
        for (const Part* scene : demo.timeline.scenes)
            EXPECT_EQ(scene->drawCount, 61u) << scene->name;

        uint64_t total = 0;
        for (uint32_t t : times) {
            gAllocations = 0;
            gCounting = true;
            demo.drawFrame(t);
            glFinish();
            gCounting = false;
            EXPECT_EQ(gAllocations.load(), 0u) << "t = " << t;
            total += gAllocations.load();
        }
        EXPECT_EQ(total, 0u);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    Program::ClearCache();
    Texture::ClearCache();
    Loader::Close();
}

} // namespace
