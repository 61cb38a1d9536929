#pragma once
// Helpers shared by the tests: temporary folders, captured message boxes, small files.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/MessageBox.h"

// Skips the current test for a missing requirement (a display, built content); with CI set in
// the environment it fails instead, since CI must have everything a test needs.
#define LUMENFALL_SKIP_OR_FAIL(reason)                                                             \
    do {                                                                                           \
        if (std::getenv("CI"))                                                                     \
            FAIL() << "CI is set but this test cannot run: " << reason;                            \
        GTEST_SKIP() << reason;                                                                    \
    } while (0)

namespace testing_support {

// A fresh folder under /tmp, removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs the test body with the working directory changed, and changes it back.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string& dir);
    ~ScopedChdir();

private:
    std::string previous_;
};

struct CapturedBox {
    std::string caption;
    std::string text;
    MessageIcon icon;
};

// Captures message boxes (and clears the error list) for the life of the object.
class CaptureBoxes {
public:
    CaptureBoxes();
    ~CaptureBoxes();
    const std::vector<CapturedBox>& boxes() const;
};

void writeFile(const std::string& path, const std::string& bytes);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);

}  // namespace testing_support
