#pragma once
// Helpers shared by the tests: temporary folders, captured message boxes, small files.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/MessageBox.h"

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
