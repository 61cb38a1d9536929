#pragma once
// What every fuzz target starts from: its own scratch folder as the working directory (so
// "demo.dat" and "./assets/" are the target's own), message boxes swallowed instead of shown,
// and per input an empty error list and a progress count from zero.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Once per process: makes the scratch folder with an empty "assets" folder and enters it.
void setUp();

// Before every input.
void beginInput();

void writeFile(const std::string& path, const uint8_t* bytes, size_t count);
void removeFile(const std::string& path);

// A minimal uncompressed 2x2 24-bit TGA.
std::string tinyTga();

// Splits the input into pieces: each piece is a 16-bit little-endian length followed by that
// many bytes (cut short at the end of the input).
class Pieces {
public:
    Pieces(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return offset_ >= size_; }
    // The next piece; `absent` is set for the length 0xffff, which stands for "no file".
    std::string next(bool& absent);
    uint32_t nextU32();
    uint8_t nextByte();

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

}  // namespace fuzz
