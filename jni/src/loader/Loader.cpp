#include "loader/Loader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <sys/stat.h>

#include <minizip/unzip.h>

#include "platform/MessageBox.h"
#include "progress/Progress.h"
#include "report/Errors.h"

namespace {

// Deflate cannot expand data by more than about 1032:1; an entry that claims more is lying,
// and believing it would let a tiny file ask for gigabytes.
constexpr uint64_t kMaxInflateRatio = 1040;

struct MemoryStream {
    const uint8_t* bytes = nullptr;
    uint64_t size = 0;
};

struct State {
    std::string path;
    std::string folder = "./assets/"; // folder mode reads folder + name
    std::unique_ptr<uint8_t[]> bytes;
    uint64_t size = 0;
    MemoryStream stream;
    unzFile handle = nullptr;
};

State& state() {
    static State loaderState;
    return loaderState;
}

// minizip's I/O over the unscrambled bytes; a stream is a heap-allocated read position.
voidpf memoryOpen(voidpf /*opaque*/, const char* /*filename*/, int mode) {
    if ((mode & 3) != 1) {
        return nullptr;
    }
    return new (std::nothrow) uint64_t(0);
}

uLong memoryRead(voidpf opaque, voidpf stream, void* buffer, uLong count) {
    const auto* memory = static_cast<const MemoryStream*>(opaque);
    auto* position = static_cast<uint64_t*>(stream);
    if (*position >= memory->size) {
        return 0;
    }
    const uint64_t left = memory->size - *position;
    const uint64_t n = count < left ? count : left;
    std::memcpy(buffer, memory->bytes + *position, n);
    *position += n;
    return static_cast<uLong>(n);
}

uLong memoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

long memoryTell(voidpf, voidpf stream) { return static_cast<long>(*static_cast<uint64_t*>(stream)); }

long memorySeek(voidpf opaque, voidpf stream, uLong offset, int origin) {
    const auto* memory = static_cast<const MemoryStream*>(opaque);
    auto* position = static_cast<uint64_t*>(stream);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        *position = offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
        *position += offset;
        return 0;
    case ZLIB_FILEFUNC_SEEK_END:
        *position = memory->size + offset;
        return 0;
    default:
        return -1;
    }
}

int memoryClose(voidpf, voidpf stream) {
    delete static_cast<uint64_t*>(stream);
    return 0;
}

int memoryError(voidpf, voidpf stream) { return stream == nullptr ? 1 : 0; }

void archiveBox(const char* format, const std::string& entry, const char* caption) {
    char text[1024];
    std::snprintf(text, sizeof text, format, entry.c_str(), state().path.c_str());
    showMessageBox(caption, text, MessageIcon::None);
}

// The archive's current entry, closed again whatever happens.
class CurrentFile {
public:
    CurrentFile(unzFile archive, const std::string& entry) : zip(archive) {
        // Only stored and deflated entries can be read; minizip would hand others back raw.
        unz_file_info64 info{};
        const bool readable =
            unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
            info.compression_method == 0 || info.compression_method == Z_DEFLATED;
        isOpen = readable && unzOpenCurrentFile(zip) == UNZ_OK;
        if (!isOpen) {
            archiveBox("%s unzOpenCurrentFile in %s!\n", entry,
                       "Loader::Get::CurrentFile::CurrentFile");
        }
    }
    ~CurrentFile() { unzCloseCurrentFile(zip); }
    CurrentFile(const CurrentFile&) = delete;
    CurrentFile& operator=(const CurrentFile&) = delete;
    bool opened() const { return isOpen; }

private:
    unzFile zip;
    bool isOpen = false;
};

bool getFromFolder(const std::string& name, uint32_t& size, uint8_t*& data) {
    const std::string path = state().folder + name;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::fseek(file, 0, SEEK_END);
    const long end = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    if (end < 0 || static_cast<uint64_t>(end) > Loader::kMaxAssetBytes) {
        std::fclose(file);
        reportError("Memory alloc error : " + name);
        return false;
    }
    size = static_cast<uint32_t>(end);
    if (size == 0) {
        reportError("File size = 0 : " + name);
        std::fclose(file);
        return false;
    }
    data = new (std::nothrow) uint8_t[size];
    if (data == nullptr) {
        reportError("Memory alloc error : " + name);
        std::fclose(file);
        return false;
    }
    const size_t got = std::fread(data, 1, size, file);
    std::fclose(file);
    if (got != size) {
        delete[] data;
        data = nullptr;
        return false;
    }
    return true;
}

std::string entryName(const std::string& name) {
    size_t cut = name.find('/');
    if (cut == std::string::npos) {
        cut = name.find('\\');
    }
    return "assets/" + (cut == std::string::npos ? name : name.substr(cut + 1));
}

bool getFromArchive(const std::string& name, uint32_t& size, uint8_t*& data) {
    State& s = state();
    const std::string entry = entryName(name);
    // 2 asks minizip for a case-insensitive match.
    if (unzLocateFile(s.handle, entry.c_str(), 2) != UNZ_OK) {
        archiveBox("%s not found in %s!\n", entry, "Loader::Get");
        return false;
    }
    CurrentFile current(s.handle, entry);
    if (!current.opened()) {
        return false;
    }
    // The 64-bit information: a zip64 entry's size must not be cut to its low 32 bits.
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(s.handle, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        archiveBox("%s unzGetCurrentFileInfo in %s!\n", entry, "Loader::Get");
        return false;
    }
    if (info.uncompressed_size == 0) {
        size = 0;
        archiveBox("%s size = 0 in %s!\n", entry, "Loader::Get");
        return false;
    }
    // Refused before allocating: more than any asset may be, or more than the packed bytes
    // can inflate to. The ceiling also keeps the size within 32 bits.
    const uint64_t packed = std::min<uint64_t>(info.compressed_size, s.size);
    const uint64_t plausible =
        info.compression_method == 0 ? packed : packed * kMaxInflateRatio + 1024;
    if (info.uncompressed_size > Loader::kMaxAssetBytes || info.uncompressed_size > plausible) {
        archiveBox("%s data alloc in %s!\n", entry, "Loader::Get");
        return false;
    }
    size = static_cast<uint32_t>(info.uncompressed_size);
    data = new (std::nothrow) uint8_t[size];
    if (data == nullptr) {
        archiveBox("%s data alloc in %s!\n", entry, "Loader::Get");
        return false;
    }
    const int got = unzReadCurrentFile(s.handle, data, size);
    if (got < 0 || static_cast<uint32_t>(got) != size) {
        archiveBox("%s unzReadCurrentFile in %s!\n", entry, "Loader::Get");
        delete[] data;
        data = nullptr;
        return false;
    }
    return true;
}

}  // namespace

namespace Loader {

void Open(const std::string& path) {
    Close();
    State& s = state();
    s.path = path;

    struct stat info {};
    FILE* file = nullptr;
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        file = std::fopen(path.c_str(), "rb");
    }
    if (file != nullptr) {
        std::fseek(file, 0, SEEK_END);
        const long end = std::ftell(file);
        std::fseek(file, 0, SEEK_SET);
        if (end > 0 && static_cast<unsigned long>(end) <= 0xffffffffUL) {
            s.bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(end)]);
            if (s.bytes && std::fread(s.bytes.get(), 1, static_cast<size_t>(end), file) ==
                               static_cast<size_t>(end)) {
                s.size = static_cast<uint64_t>(end);
            } else {
                s.bytes.reset();
            }
        }
        std::fclose(file);
    }

    Scramble(s.bytes.get(), s.size);
    s.stream.bytes = s.bytes.get();
    s.stream.size = s.size;

    zlib_filefunc_def functions{};
    functions.zopen_file = memoryOpen;
    functions.zread_file = memoryRead;
    functions.zwrite_file = memoryWrite;
    functions.ztell_file = memoryTell;
    functions.zseek_file = memorySeek;
    functions.zclose_file = memoryClose;
    functions.zerror_file = memoryError;
    functions.opaque = &s.stream;
    s.handle = s.size > 0 ? unzOpen2(path.c_str(), &functions) : nullptr;
    if (s.handle == nullptr) {
        s.path.clear();
        s.bytes.reset();
        s.size = 0;
        s.stream = MemoryStream{};
    }
}

bool Get(const std::string& name, uint32_t& size, uint8_t*& data) {
    progressStep();
    if (name.empty()) {
        return false;
    }
    if (!archiveMode()) {
        return getFromFolder(name, size, data);
    }
    return getFromArchive(name, size, data);
}

void SetFolder(const std::string& folder) {
    state().folder = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

bool archiveMode() { return !state().path.empty(); }

void Close() {
    State& s = state();
    if (s.handle != nullptr) {
        unzClose(s.handle);
        s.handle = nullptr;
    }
    s.path.clear();
    s.bytes.reset();
    s.size = 0;
    s.stream = MemoryStream{};
}

}  // namespace Loader
