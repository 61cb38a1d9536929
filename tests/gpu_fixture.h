#pragma once
// What every GL test starts from: its own offscreen ES 2.0 context, an empty "./assets/"
// folder read in folder mode, progress steps counted without a window, captured message
// boxes, and empty program and texture caches (their GL names die with the context).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "loader/Loader.h"
#include "platform/OffscreenContext.h"
#include "program/Program.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"
#include "texture/Texture.h"

class GpuTest : public ::testing::Test {
protected:
    explicit GpuTest(int width = 64, int height = 64) : width_(width), height_(height) {}

    void SetUp() override {
        Loader::Close();
        Program::ClearCache();
        Texture::ClearCache();
        progressResetForCounting();
        std::filesystem::create_directory(dir_.file("assets"));
        ASSERT_TRUE(context_.create(width_, height_)) << context_.error();
    }

    void TearDown() override {
        Program::ClearCache();
        Texture::ClearCache();
        Texture::LimitSizeForTests(0);
    }

    void writeAsset(const std::string& name, const std::string& bytes) {
        testing_support::writeFile(dir_.file("assets/" + name), bytes);
    }
    void removeAsset(const std::string& name) {
        std::filesystem::remove(dir_.file("assets/" + name));
    }
    // A file of the real content tree, copied into the assets folder.
    void copyShader(const std::string& name) {
        std::filesystem::copy_file(std::string(LUMENFALL_SOURCE_DIR) + "/content/shaders/" + name,
                                   dir_.file("assets/" + name));
    }
    static int steps() { return progress().position; }
    std::vector<std::string> boxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes_.boxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }
    std::vector<uint8_t> pixels() const {
        std::vector<uint8_t> rgba;
        context_.readPixels(rgba);
        return rgba;
    }
    // Pixel (x, y) with y counted from the bottom, as GL counts it.
    static const uint8_t* pixelAt(const std::vector<uint8_t>& rgba, int width, int height, int x,
                                  int y) {
        return rgba.data() + (static_cast<size_t>(height - 1 - y) * width + x) * 4;
    }

    int width_;
    int height_;
    testing_support::TempDir dir_;
    testing_support::ScopedChdir chdir_{dir_.path()};
    testing_support::CaptureBoxes boxes_;
    OffscreenContext context_;
};
