// The archive reader on arbitrary bytes. The input is the plain zip; it is scrambled as the
// packer scrambles it, written as "demo.dat" and opened, then every entry named in its central
// directory and a few fixed names are read. A read either fails with nothing to free or hands
// back exactly `size` bytes.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "loader/Asset.h"
#include "loader/Loader.h"

namespace {

constexpr size_t kMaxNames = 24;

// Names from central directory headers ("PK\1\2"), found by scanning, so that names a
// broken directory hides from minizip are asked for too.
std::vector<std::string> centralDirectoryNames(const uint8_t* data, size_t size) {
    std::vector<std::string> names;
    for (size_t i = 0; i + 46 <= size && names.size() < kMaxNames; ++i) {
        if (std::memcmp(data + i, "PK\x01\x02", 4) != 0) {
            continue;
        }
        const size_t length = data[i + 28] | static_cast<size_t>(data[i + 29]) << 8;
        const size_t take = length < size - (i + 46) ? length : size - (i + 46);
        names.emplace_back(reinterpret_cast<const char*>(data + i + 46), take);
    }
    return names;
}

void get(const std::string& name) {
    uint32_t size = 0;
    uint8_t* bytes = nullptr;
    if (Loader::Get(name, size, bytes)) {
        if (bytes == nullptr || size == 0) {
            std::abort();  // success must hand back bytes
        }
        // Touch both ends: a buffer shorter than `size` shows up under AddressSanitizer.
        volatile uint8_t sink = bytes[0];
        sink = bytes[size - 1];
        (void)sink;
        delete[] bytes;
    } else if (bytes != nullptr) {
        std::abort();  // a failed read must not hand back a buffer
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::beginInput();
    std::vector<uint8_t> scrambled(data, data + size);
    Loader::Scramble(scrambled.data(), scrambled.size());
    fuzz::writeFile("demo.dat", scrambled.data(), scrambled.size());
    Loader::Open("demo.dat");

    for (const std::string& name : centralDirectoryNames(data, size)) {
        get(name);
        // The loader keeps what follows the first slash: ask for the bare name as well.
        const size_t slash = name.find('/');
        if (slash != std::string::npos) {
            get(name.substr(slash + 1));
        }
    }
    static const char* const kFixedNames[] = {"",          "particle.glsl", "music.msd",
                                              "01.rms",    "a/b/c.tga",     "x\\y.ife",
                                              "ASSETS.IFE", "music.ogg"};
    for (const char* name : kFixedNames) {
        get(name);
    }
    {
        Asset asset;
        asset.Load("ife.glsl");
    }

    Loader::Close();
    return 0;
}
