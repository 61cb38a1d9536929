#include "support/TestSupport.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

#include "report/Errors.h"

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>

namespace {
// EGL unloads Mesa's driver at exit, before the leak check runs, which then reports the
// driver's own allocations as leaks from an unknown module. Keeping it mapped avoids that.
const bool g_driverKeptLoaded = [] {
    dlopen("libEGL_mesa.so.0", RTLD_NOW | RTLD_NODELETE);
    dlopen(LUMENFALL_MESA_DRIVER, RTLD_NOW | RTLD_NODELETE);
    return true;
}();
}  // namespace
#endif

namespace testing_support {

TempDir::TempDir() {
    char pattern[] = "/tmp/lumenfall-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScopedChdir::ScopedChdir(const std::string& dir) {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer) != nullptr) {
        previous_ = buffer;
    }
    if (chdir(dir.c_str()) != 0) {
        throw std::runtime_error("chdir failed: " + dir);
    }
}

ScopedChdir::~ScopedChdir() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
        std::perror("chdir back");
    }
}

namespace {
std::vector<CapturedBox> g_boxes;

void captureBox(const std::string& caption, const std::string& text, MessageIcon icon) {
    g_boxes.push_back({caption, text, icon});
}
}  // namespace

CaptureBoxes::CaptureBoxes() {
    g_boxes.clear();
    clearErrorList();
    setMessageBoxHook(captureBox);
}

CaptureBoxes::~CaptureBoxes() {
    setMessageBoxHook(nullptr);
    clearErrorList();
}

const std::vector<CapturedBox>& CaptureBoxes::boxes() const { return g_boxes; }

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_support
