// Start-up failures of the whole show. Demo::build runs on a copy of the real built content
// with one file taken away (or emptied); it must stop at that file with the messages its
// loaders and the sequencer give, in the order they give them, then release everything it
// loaded when the Demo is destroyed. Runs in folder mode and, for a few files, in archive mode.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "demo/Demo.h"
#include "loader/Loader.h"
#include "platform/OffscreenContext.h"
#include "program/Program.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"
#include "texture/Texture.h"

namespace fs = std::filesystem;

namespace {

using testing_support::CaptureBoxes;
using testing_support::ScopedChdir;
using testing_support::TempDir;

constexpr int32_t kMusicMs = 216000;

// The built content: $LUMENFALL_ASSETS, else the build's own assets folder.
std::string builtAssets() {
    const char* from = std::getenv("LUMENFALL_ASSETS");
    return from != nullptr && *from != '\0' ? from : std::string(LUMENFALL_BINARY_DIR) + "/assets";
}

bool isImage(const std::string& name) {
    const std::string ext = fs::path(name).extension().string();
    return ext == ".tga" || ext == ".png";
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Which scene's init first asks for a file: "" for the sequencer's own loads.
struct Owner {
    std::string scene;  // "Part01" .. "Part05", or ""
    std::vector<std::string> files;
};

// The build's loads in order, with the sprite images of each animation after it.
std::vector<Owner> loadOrder(const fs::path& assets) {
    std::vector<std::string> seen;
    auto spritesOf = [&](const std::string& ife) {
        // An image name is a whole line of the animation; the first animation naming it loads it.
        std::vector<std::string> names;
        const std::string text = "\r\n" + readText(assets / ife);
        for (const auto& entry : fs::directory_iterator(assets)) {
            const std::string name = entry.path().filename().string();
            if (isImage(name) && text.find("\n" + name + "\r") != std::string::npos &&
                std::find(seen.begin(), seen.end(), name) == seen.end()) {
                names.push_back(name);
                seen.push_back(name);
            }
        }
        return names;
    };
    std::vector<Owner> order = {
        {"", {"music.msd", "01.rms", "02.rms", "03.rms", "04.rms", "05.rms", "ife.glsl", "overlay.ife"}},
        {"", spritesOf("overlay.ife")},
        {"", {"racs.ife"}},
        {"", spritesOf("racs.ife")},
        {"", {"particle.glsl", "envflare3.tga"}},
        {"Part01", {"credits.ife"}},
        {"Part01", spritesOf("credits.ife")},
        {"Part01", {"particlePart01.glsl"}},
        {"Part02", {"particlePart02.glsl", "ventillator.tga"}},
        {"Part03", {"particlePart03.glsl"}},
        {"Part04", {"particlePart04.glsl"}},
        {"Part05", {"particlePart051.glsl", "particlePart052.glsl", "vege.ife"}},
        {"Part05", spritesOf("vege.ife")},
    };
    return order;
}

// What the user is told when `name` is missing: the loader, then each layer above it.
std::vector<std::string> messagesForMissing(const std::string& name, const std::string& scene,
                                            bool empty) {
    std::vector<std::string> messages;
    if (empty) {
        messages.push_back("File size = 0 : " + name);
    }
    messages.push_back("Load error : " + name);
    // The fan mask is read raw by its scene; every other image goes through the texture path.
    if (isImage(name) && name != "ventillator.tga") {
        messages.push_back("Image load error : " + name);
        messages.push_back("Texture load error : " + name);
    }
    if (!scene.empty()) {
        messages.push_back(scene + " init error!");
    }
    return messages;
}

class FailurePaths : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        source_ = builtAssets();
        if (!fs::is_directory(source_)) {
            return;
        }
        dir_ = std::make_unique<TempDir>();
        fs::create_directory(dir_->file("assets"));
        for (const auto& entry : fs::directory_iterator(source_)) {
            // The music is opened by the entry point, not by the build.
            if (entry.is_regular_file() && entry.path().filename() != "music.ogg") {
                fs::copy_file(entry.path(), dir_->file("assets/" + entry.path().filename().string()));
            }
        }
    }
    static void TearDownTestSuite() { dir_.reset(); }

    void SetUp() override {
        if (!dir_) {
            LUMENFALL_SKIP_OR_FAIL("no built content in " << source_
                                                          << " (build the content target)");
        }
        ASSERT_TRUE(context_.create(64, 36)) << context_.error();
        Loader::Close();
    }
    void TearDown() override {
        Loader::Close();
        Program::ClearCache();
        Texture::ClearCache();
    }

    // Builds a Demo with the folder as it is now; returns the error list and the boxes' captions
    // and texts ("caption|text"). The Demo is destroyed before returning, context still current.
    struct Outcome {
        bool built = false;
        std::vector<std::string> errors;
        std::vector<std::string> boxes;
    };
    static Outcome build(bool archive) {
        Outcome outcome;
        CaptureBoxes capture;
        ScopedChdir in(dir_->path());
        Program::ClearCache();
        Texture::ClearCache();
        if (archive) {
            Loader::Open("demo.dat");
            EXPECT_TRUE(Loader::archiveMode());
        } else {
            Loader::Close();
        }
        progressResetForCounting();
        {
            auto demo = std::make_unique<Demo>();
            demo->setScreenSize(64, 36);
            outcome.built = demo->build(kMusicMs);
        }
        outcome.errors = errorList();
        for (const auto& box : capture.boxes()) {
            outcome.boxes.push_back(box.caption + "|" + box.text);
        }
        Loader::Close();
        return outcome;
    }

    // Moves one asset aside for the life of the object (or empties it).
    class Without {
    public:
        Without(const std::string& name, bool empty)
            : path_(dir_->file("assets/" + name)), aside_(dir_->file(name + ".aside")) {
            fs::rename(path_, aside_);
            if (empty) {
                std::ofstream(path_, std::ios::binary).flush();
            }
        }
        ~Without() {
            fs::remove(path_);
            fs::rename(aside_, path_);
        }

    private:
        std::string path_;
        std::string aside_;
    };

    static std::string packer() { return std::string(LUMENFALL_BINARY_DIR) + "/lumenfall-pack"; }
    static std::string pack() {
        const std::string command = "'" + packer() + "' '" + dir_->file("assets") + "' '" +
                                    dir_->file("demo.dat") + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 ? "" : "lumenfall-pack failed: " + command;
    }

    static std::string source_;
    static std::unique_ptr<TempDir> dir_;
    OffscreenContext context_;
};
std::string FailurePaths::source_;
std::unique_ptr<TempDir> FailurePaths::dir_;

TEST_F(FailurePaths, CompleteContentBuildsWithoutAMessage) {
    const Outcome outcome = build(false);
    EXPECT_TRUE(outcome.built);
    EXPECT_TRUE(outcome.errors.empty()) << outcome.errors.front();
}

// Every file the build reads, missing in turn: the build stops there with the loaders' messages,
// then "PartNN init error!" when a scene's init asked for it.
TEST_F(FailurePaths, EachMissingFileStopsTheBuildWithItsMessagesInOrder) {
    const auto order = loadOrder(dir_->file("assets"));
    size_t cases = 0;
    for (const Owner& owner : order) {
        for (const std::string& name : owner.files) {
            SCOPED_TRACE("missing " + name);
            Without gone(name, false);
            const Outcome outcome = build(false);
            EXPECT_FALSE(outcome.built);
            EXPECT_EQ(outcome.errors, messagesForMissing(name, owner.scene, false));
            // Folder mode: every box is one of the list's own "ERROR" boxes.
            ASSERT_EQ(outcome.boxes.size(), outcome.errors.size());
            for (size_t i = 0; i < outcome.boxes.size(); ++i) {
                EXPECT_EQ(outcome.boxes[i], "ERROR|" + outcome.errors[i]);
            }
            ++cases;
        }
    }
    EXPECT_GE(cases, 22u);  // the fixed names, plus at least one sprite image
}

// An empty file is refused by the loader before anything parses it.
TEST_F(FailurePaths, EmptyFilesAreRefusedByTheLoaderFirst) {
    const struct {
        const char* name;
        const char* scene;
    } cases[] = {{"music.msd", ""},        {"03.rms", ""},          {"overlay.ife", ""},
                 {"envflare3.tga", ""},    {"credits.ife", "Part01"}, {"ventillator.tga", "Part02"},
                 {"particlePart04.glsl", "Part04"}, {"vege.ife", "Part05"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("empty ") + c.name);
        Without emptied(c.name, true);
        const Outcome outcome = build(false);
        EXPECT_FALSE(outcome.built);
        EXPECT_EQ(outcome.errors, messagesForMissing(c.name, c.scene, true));
    }
}

// Archive mode: a file missing from "demo.dat" gets the loader's own box first, which is not in
// the list; the list then reads as in folder mode. The folder is not consulted.
TEST_F(FailurePaths, FileMissingFromTheArchiveShowsTheLoaderBoxFirst) {
    if (!fs::exists(packer())) {
        LUMENFALL_SKIP_OR_FAIL("no " << packer());
    }
    const struct {
        const char* name;
        const char* scene;
    } cases[] = {{"02.rms", ""}, {"envflare3.tga", ""}, {"particlePart03.glsl", "Part03"},
                 {"ventillator.tga", "Part02"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("archive without ") + c.name);
        {
            Without gone(c.name, false);
            ASSERT_EQ(pack(), "");
        }
        // The file is back in the folder, but the archive wins.
        const Outcome outcome = build(true);
        fs::remove(dir_->file("demo.dat"));
        EXPECT_FALSE(outcome.built);
        EXPECT_EQ(outcome.errors, messagesForMissing(c.name, c.scene, false));
        ASSERT_FALSE(outcome.boxes.empty());
        EXPECT_EQ(outcome.boxes.front(),
                  "Loader::Get|assets/" + std::string(c.name) + " not found in demo.dat!\n");
        EXPECT_EQ(outcome.boxes.size(), outcome.errors.size() + 1);
    }
}

// With no display GLFW cannot start: both programs end at once, silently, with exit code 0.
TEST(EntryPoint, GlfwInitFailureEndsSilentlyWithZero) {
    for (const char* program : {"lumenfall-gl", "lumenfall-gles"}) {
        SCOPED_TRACE(program);
        const std::string path = std::string(LUMENFALL_BINARY_DIR) + "/" + program;
        if (!fs::exists(path)) {
            LUMENFALL_SKIP_OR_FAIL("no " << path);
        }
        TempDir dir;
        const std::string command = "cd '" + dir.path() +
                                    "' && env -u DISPLAY -u WAYLAND_DISPLAY timeout -s KILL 60 '" +
                                    path + "' >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(readText(dir.file("out.txt")), "");
        EXPECT_EQ(readText(dir.file("err.txt")), "");
    }
}

}  // namespace
