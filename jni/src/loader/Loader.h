#pragma once
// Reads named asset files whole, from the scrambled archive opened once at start-up or,
// when no archive opened, from "./assets/". The loader owns the unscrambled archive bytes
// for the life of the process; every buffer Get returns belongs to the caller (delete[]).

#include <cstdint>
#include <string>

namespace Loader {

// No asset is larger than this (the show's own are a few MB); a bigger file or entry is
// refused with the allocation message before anything is allocated.
constexpr uint64_t kMaxAssetBytes = 256u << 20;

void Open(const std::string& path);
// The folder that folder mode reads from, "./assets/" unless a tool that may be started
// anywhere (the capture program) names another before Open.
void SetFolder(const std::string& folder);
bool Get(const std::string& name, uint32_t& size, uint8_t*& data);

// A query and a reset for tests and tools.
bool archiveMode();
void Close();

// "demo.dat" is scrambled with a repeating six-byte XOR key; the same call unscrambles.
// offset is the file offset of bytes[0].
inline void Scramble(uint8_t* bytes, uint64_t count, uint64_t offset = 0) {
    static const uint8_t key[6] = {'v', 'i', 'n', 't', 'r', 'a'};
    for (uint64_t i = 0; i < count; ++i) {
        bytes[i] ^= key[(offset + i) % 6];
    }
}

}  // namespace Loader
