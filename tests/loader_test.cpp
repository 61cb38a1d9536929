// The asset loader in both modes, archives from several zip writers, hostile archives, and
// the line reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "loader/Asset.h"
#include "loader/Loader.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"

using namespace testing_support;

namespace {

std::string readBack(const std::string& name, bool* ok = nullptr) {
    uint32_t size = 0;
    uint8_t* data = nullptr;
    const bool got = Loader::Get(name, size, data);
    if (ok != nullptr) {
        *ok = got;
    }
    std::string text(got ? reinterpret_cast<const char*>(data) : "", got ? size : 0);
    delete[] data;
    return text;
}

void scrambleFile(const std::string& path) {
    std::vector<uint8_t> bytes = readFile(path);
    Loader::Scramble(bytes.data(), bytes.size());
    writeFile(path, bytes);
}

int run(const std::string& command) { return std::system(command.c_str()); }

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        Loader::Close();
        progressResetForCounting();
        chdir_ = std::make_unique<ScopedChdir>(dir_.path());
    }
    void TearDown() override {
        chdir_.reset();
        Loader::Close();
    }

    // Writes files under ./src/assets/ for the zip writers to pick up.
    void stage(const std::vector<std::pair<std::string, std::string>>& files) {
        run("mkdir -p src/assets/sub");
        for (const auto& file : files) {
            writeFile("src/assets/" + file.first, file.second);
        }
    }

    TempDir dir_;
    std::unique_ptr<ScopedChdir> chdir_;
    CaptureBoxes boxes_;
};

}  // namespace

TEST_F(LoaderTest, FolderModeReadsFilesAndReportsOnlyEmptyFiles) {
    run("mkdir -p assets/sub");
    writeFile("assets/a.txt", "hello");
    writeFile("assets/sub/b.txt", "nested");
    writeFile("assets/empty.txt", "");
    Loader::Open("demo.dat");  // no such file
    EXPECT_FALSE(Loader::archiveMode());

    EXPECT_EQ(readBack("a.txt"), "hello");
    EXPECT_EQ(readBack("sub/b.txt"), "nested");  // the folder part is kept in folder mode
    bool ok = true;
    readBack("missing.txt", &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(boxes_.boxes().empty()) << "a missing file fails silently in the loader";
    readBack("", &ok);
    EXPECT_FALSE(ok);

    uint32_t size = 99;
    uint8_t* data = nullptr;
    EXPECT_FALSE(Loader::Get("empty.txt", size, data));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(data, nullptr);
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes_.boxes()[0].text, "File size = 0 : empty.txt");

    // A folder with an asset's name is not a file.
    run("mkdir -p assets/dir.txt");
    readBack("dir.txt", &ok);
    EXPECT_FALSE(ok);
}

TEST_F(LoaderTest, AssetLoadTakesTwoStepsAndReportsTheName) {
    run("mkdir -p assets");
    writeFile("assets/a.txt", "x");
    Loader::Open("demo.dat");
    {
        Asset asset;
        EXPECT_TRUE(asset.Load("a.txt"));
        EXPECT_EQ(asset.size, 1u);
    }
    EXPECT_EQ(progress().position, 2);
    Asset missing;
    EXPECT_FALSE(missing.Load("music.ogg"));
    EXPECT_EQ(progress().position, 4);
    EXPECT_EQ(missing.name, "music.ogg");
    ASSERT_EQ(errorList().size(), 1u);
    EXPECT_EQ(errorList()[0], "Load error : music.ogg");
}

TEST_F(LoaderTest, ArchivesFromOtherZipWritersReadBackEntryByEntry) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"particle.glsl", "void main() {}\n"},
        {"Mixed.Case.TXT", "case"},
        {"big.bin", std::string(200000, 'z') + "end"},
        {"sub/inner.txt", "inner"},
    };
    stage(files);
    ASSERT_EQ(run("cd src && python3 -c \"import zipfile,os\n"
                  "with zipfile.ZipFile('../py.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
                  "  [z.write(os.path.join(r,f)) for r,d,fs in os.walk('assets') for f in fs]\""),
              0);
    ASSERT_EQ(run("cd src && zip -q -r ../info.zip assets"), 0);

    for (const char* archive : {"py.zip", "info.zip"}) {
        SCOPED_TRACE(archive);
        run(std::string("cp ") + archive + " demo.dat");
        scrambleFile("demo.dat");
        Loader::Open("demo.dat");
        ASSERT_TRUE(Loader::archiveMode());
        EXPECT_EQ(readBack("particle.glsl"), files[0].second);
        EXPECT_EQ(readBack("mixed.case.txt"), "case") << "names match without regard to case";
        EXPECT_EQ(readBack("big.bin"), files[2].second);
        // In archive mode the folder part is dropped: "x/particle.glsl" is "assets/particle.glsl".
        EXPECT_EQ(readBack("x/particle.glsl"), files[0].second);
        EXPECT_EQ(readBack("x\\particle.glsl"), files[0].second);
        EXPECT_TRUE(boxes_.boxes().empty());
        Loader::Close();
    }
}

TEST_F(LoaderTest, ArchiveFailuresShowTheirBoxes) {
    stage({{"a.txt", "a"}, {"empty.txt", ""}});
    run("mkdir -p assets");
    writeFile("assets/only-in-folder.txt", "folder");
    ASSERT_EQ(run("cd src && zip -q -r ../demo.dat assets"), 0);
    scrambleFile("demo.dat");
    Loader::Open("demo.dat");
    ASSERT_TRUE(Loader::archiveMode());

    Asset missing;
    EXPECT_FALSE(missing.Load("only-in-folder.txt"));
    uint32_t size = 7;
    uint8_t* data = nullptr;
    EXPECT_FALSE(Loader::Get("empty.txt", size, data));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(data, nullptr);

    ASSERT_EQ(boxes_.boxes().size(), 3u);
    EXPECT_EQ(boxes_.boxes()[0].caption, "Loader::Get");
    EXPECT_EQ(boxes_.boxes()[0].text, "assets/only-in-folder.txt not found in demo.dat!\n");
    EXPECT_EQ(boxes_.boxes()[1].caption, "ERROR");
    EXPECT_EQ(boxes_.boxes()[1].text, "Load error : only-in-folder.txt");
    EXPECT_EQ(boxes_.boxes()[2].text, "assets/empty.txt size = 0 in demo.dat!\n");
    EXPECT_EQ(errorList().size(), 1u) << "archive boxes are not added to the error list";
}

TEST_F(LoaderTest, UnscrambledTruncatedOrGarbageArchivesFallBackToTheFolder) {
    stage({{"a.txt", std::string(5000, 'a')}});
    run("mkdir -p assets");
    writeFile("assets/a.txt", "from folder");
    ASSERT_EQ(run("cd src && zip -q -r ../plain.zip assets"), 0);

    std::vector<uint8_t> plain = readFile("plain.zip");
    std::vector<uint8_t> scrambled = plain;
    Loader::Scramble(scrambled.data(), scrambled.size());

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"a plain zip", plain},
        {"empty", {}},
        {"garbage", std::vector<uint8_t>(4096, 0x5a)},
        {"scrambled, cut before its central directory",
         std::vector<uint8_t>(scrambled.begin(), scrambled.begin() + scrambled.size() / 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile("demo.dat", c.bytes);
        Loader::Open("demo.dat");
        EXPECT_FALSE(Loader::archiveMode());
        EXPECT_EQ(readBack("a.txt"), "from folder");
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(LoaderTest, CorruptEntriesFailWithAMessageAndNeverCrash) {
    stage({{"a.txt", std::string(100000, 'a')}});
    ASSERT_EQ(run("cd src && zip -q -r ../good.zip assets"), 0);
    const std::vector<uint8_t> good = readFile("good.zip");
    // What a failing entry may say: one box, with the entry and the archive in it.
    const std::vector<std::pair<std::string, std::string>> messages = {
        {"Loader::Get::CurrentFile::CurrentFile", "assets/a.txt unzOpenCurrentFile in demo.dat!\n"},
        {"Loader::Get", "assets/a.txt not found in demo.dat!\n"},
        {"Loader::Get", "assets/a.txt unzGetCurrentFileInfo in demo.dat!\n"},
        {"Loader::Get", "assets/a.txt data alloc in demo.dat!\n"},
        {"Loader::Get", "assets/a.txt unzReadCurrentFile in demo.dat!\n"},
    };

    // The entry's local header, its deflated data and its central directory record.
    auto headerOf = [&](const char* signature, size_t nameAt) {
        const std::string name = "assets/a.txt";
        for (size_t i = 0; i + nameAt + name.size() <= good.size(); ++i) {
            if (std::equal(signature, signature + 4, good.begin() + i) &&
                std::equal(name.begin(), name.end(), good.begin() + i + nameAt)) {
                return i;
            }
        }
        return good.size();
    };
    const size_t local = headerOf("PK\x03\x04", 30);
    const size_t central = headerOf("PK\x01\x02", 46);
    ASSERT_LT(central, good.size());
    const size_t data = local + 30 + 12 + (good[local + 28] | good[local + 29] << 8);

    // Flip one byte at a time: the local signature and method, the deflated data, the
    // central method and size.
    size_t failures = 0;
    for (size_t spot :
         {local, local + 8, data + 1, data + 40, data + 100, central + 10, central + 24}) {
        SCOPED_TRACE(spot);
        std::vector<uint8_t> bad = good;
        ASSERT_LT(spot, bad.size());
        bad[spot] ^= 0xff;
        Loader::Scramble(bad.data(), bad.size());
        writeFile("demo.dat", bad);
        Loader::Open("demo.dat");
        ASSERT_TRUE(Loader::archiveMode()) << "the central directory is intact";
        const size_t boxesBefore = boxes_.boxes().size();
        bool ok = false;
        const std::string text = readBack("a.txt", &ok);
        if (ok) {
            EXPECT_EQ(text.size(), 100000u);
            EXPECT_EQ(boxes_.boxes().size(), boxesBefore);
        } else {
            ++failures;
            ASSERT_EQ(boxes_.boxes().size(), boxesBefore + 1) << "a failure without its box";
            const auto& box = boxes_.boxes().back();
            EXPECT_NE(
                std::find(messages.begin(), messages.end(), std::make_pair(box.caption, box.text)),
                messages.end())
                << box.caption << ": " << box.text;
        }
        Loader::Close();
    }
    EXPECT_GE(failures, 5u) << "the spots no longer hit what they were chosen for";
    EXPECT_TRUE(errorList().empty()) << "archive boxes are not added to the error list";
}

TEST_F(LoaderTest, FilesOverTheCeilingAreRefusedBeforeReading) {
    // A sparse file: its size costs no disk and, refused by its size, no memory.
    run("mkdir -p assets");
    writeFile("assets/big.bin", "x");
    std::filesystem::resize_file("assets/big.bin", Loader::kMaxAssetBytes + 1);
    bool ok = true;
    readBack("big.bin", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(errorList(), std::vector<std::string>{"Memory alloc error : big.bin"});
}

TEST_F(LoaderTest, AnEntryClaimingAHugeSizeIsRefusedBeforeAllocating) {
    stage({{"a.txt", "small"}});
    ASSERT_EQ(run("cd src && zip -q -0 -r ../stored.zip assets"), 0);
    std::vector<uint8_t> bytes = readFile("stored.zip");
    // Rewrite the uncompressed size in the central directory (offset 24 in each record) and
    // in the local header (offset 22) to nearly 4 GB.
    auto patch = [&](const uint8_t signature[4], size_t field) {
        for (size_t i = 0; i + 4 < bytes.size(); ++i) {
            if (std::equal(signature, signature + 4, bytes.begin() + i)) {
                bytes[i + field] = 0xf0;
                bytes[i + field + 1] = 0xff;
                bytes[i + field + 2] = 0xff;
                bytes[i + field + 3] = 0xff;
            }
        }
    };
    const uint8_t central[4] = {'P', 'K', 1, 2};
    const uint8_t local[4] = {'P', 'K', 3, 4};
    patch(central, 24);
    patch(local, 22);
    Loader::Scramble(bytes.data(), bytes.size());
    writeFile("demo.dat", bytes);
    Loader::Open("demo.dat");
    ASSERT_TRUE(Loader::archiveMode());
    bool ok = true;
    readBack("a.txt", &ok);
    EXPECT_FALSE(ok);
    ASSERT_FALSE(boxes_.boxes().empty());
    EXPECT_EQ(boxes_.boxes().back().text, "assets/a.txt data alloc in demo.dat!\n");
}

TEST_F(LoaderTest, ThePackerWritesAnArchiveTheLoaderReads) {
    run("mkdir -p pack");
    writeFile("pack/one.glsl", "one");
    writeFile("pack/two.tga", std::string(3000, '\x01'));
    const std::string packer = std::string(LUMENFALL_BINARY_DIR) + "/lumenfall-pack";
    ASSERT_EQ(run(packer + " pack demo.dat > /dev/null"), 0);
    Loader::Open("demo.dat");
    ASSERT_TRUE(Loader::archiveMode());
    EXPECT_EQ(readBack("one.glsl"), "one");
    EXPECT_EQ(readBack("two.tga").size(), 3000u);
}

TEST(AssetReadLine, EndsLinesAtCarriageReturnsOnly) {
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
        std::vector<uint32_t> cursors;
    };
    const std::vector<Case> cases = {
        {"a\r\nb", {"a", "b"}, {3, 5}},
        {"a\nb", {"a\nb"}, {4}},
        {"", {""}, {1}},
        {"a\r\rb\r", {"a", "", "b"}, {2, 3, 5}},
        {"\r\n\r\n", {"", ""}, {2, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        Asset asset;
        asset.size = static_cast<uint32_t>(c.bytes.size());
        asset.data = new uint8_t[c.bytes.size() + 1];
        std::copy(c.bytes.begin(), c.bytes.end(), asset.data);
        for (size_t i = 0; i < c.lines.size(); ++i) {
            EXPECT_EQ(asset.ReadLine(), c.lines[i]);
            EXPECT_EQ(asset.cursor, c.cursors[i]);
        }
    }
}
