#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "platform/MessageBox.h"
#include "progress/Progress.h"
#include "report/Errors.h"

namespace fuzz {

namespace {
void ignoreBox(const std::string&, const std::string&, MessageIcon) {}
}  // namespace

void setUp() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    setMessageBoxHook(ignoreBox);
    // Crashes and timeouts end the process without atexit handlers: scripts/fuzz.sh points
    // LUMENFALL_FUZZ_SCRATCH at a folder of its own and empties it after each run.
    const char* base = std::getenv("LUMENFALL_FUZZ_SCRATCH");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/lumenfall-fuzz-XXXXXX";
    const char* dir = mkdtemp(pattern.data());
    if (dir == nullptr || chdir(dir) != 0) {
        std::perror("fuzz scratch folder");
        std::abort();
    }
    std::filesystem::create_directory("assets");
    // The folder is removed when the fuzzer exits normally.
    static const std::string scratch = dir;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    });
}

void beginInput() {
    setUp();
    clearErrorList();
    progressResetForCounting();
}

void writeFile(const std::string& path, const uint8_t* bytes, size_t count) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::abort();
    }
    if (count > 0 && std::fwrite(bytes, 1, count, file) != count) {
        std::perror(path.c_str());
        std::abort();
    }
    std::fclose(file);
}

void removeFile(const std::string& path) { std::remove(path.c_str()); }

std::string tinyTga() {
    // Header: no id, no colour map, type 2 (true colour), 2x2, 24 bits, top-left origin.
    std::string tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20};
    tga.append(12, '\x7f');
    return tga;
}

std::string Pieces::next(bool& absent) {
    absent = false;
    if (offset_ + 2 > size_) {
        offset_ = size_;
        return "";
    }
    const size_t length = data_[offset_] | static_cast<size_t>(data_[offset_ + 1]) << 8;
    offset_ += 2;
    if (length == 0xffff) {
        absent = true;
        return "";
    }
    const size_t take = length < size_ - offset_ ? length : size_ - offset_;
    std::string piece(reinterpret_cast<const char*>(data_ + offset_), take);
    offset_ += take;
    return piece;
}

uint32_t Pieces::nextU32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(nextByte()) << (8 * i);
    }
    return value;
}

uint8_t Pieces::nextByte() { return offset_ < size_ ? data_[offset_++] : 0; }

}  // namespace fuzz
