#include "MusicLength.h"

#include <cstring>

#include <vorbis/vorbisfile.h>

#include "platform/AudioDecoder.h"

namespace {

struct MemoryFile {
    const uint8_t* data;
    uint32_t size;
    uint32_t position;
};

size_t readMemory(void* out, size_t size, size_t count, void* source) {
    auto* file = static_cast<MemoryFile*>(source);
    const size_t wanted = size * count;
    const size_t left = file->size - file->position;
    const size_t taken = wanted < left ? wanted : left;
    std::memcpy(out, file->data + file->position, taken);
    file->position += static_cast<uint32_t>(taken);
    return size == 0 ? 0 : taken / size;
}

int seekMemory(void* source, ogg_int64_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(source);
    ogg_int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = file->position;
    } else if (whence == SEEK_END) {
        base = file->size;
    }
    const ogg_int64_t target = base + offset;
    if (target < 0 || target > file->size) {
        return -1;
    }
    file->position = static_cast<uint32_t>(target);
    return 0;
}

long tellMemory(void* source) {
    return static_cast<long>(static_cast<MemoryFile*>(source)->position);
}

} // namespace

OggLength oggLengthSeconds(const uint8_t* data, uint32_t size) {
    OggLength length;
    if (data == nullptr || size == 0) {
        length.error = "the file is empty";
        return length;
    }
    // Headers that would make the decoder allocate far beyond any real music are refused
    // before it sees them, as the show refuses them.
    if (!AudioDecoder::headersFit(data, size)) {
        length.error = "not an Ogg Vorbis stream the show can play";
        return length;
    }
    MemoryFile file{data, size, 0};
    const ov_callbacks callbacks{readMemory, seekMemory, nullptr, tellMemory};
    OggVorbis_File vorbis;
    if (ov_open_callbacks(&file, &vorbis, nullptr, 0, callbacks) != 0) {
        length.error = "not an Ogg Vorbis stream";
        return length;
    }
    const vorbis_info* info = ov_info(&vorbis, -1);
    const ogg_int64_t samples = ov_pcm_total(&vorbis, -1);
    if (info != nullptr && info->rate > 0 && samples >= 0) {
        length.seconds = static_cast<double>(samples) / static_cast<double>(info->rate);
    } else {
        length.error = "the stream has no length";
    }
    ov_clear(&vorbis);
    return length;
}

int32_t musicLengthMs(double seconds) {
    const double ms = seconds * 1000.0;
    return ms >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(ms);
}
