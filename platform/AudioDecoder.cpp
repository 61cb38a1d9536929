#include "platform/AudioDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kMaxChannels = 8;
constexpr int kDecodeFrames = 1024;
// A damaged stream can report many holes in a row; past this, it has ended.
constexpr int kMaxHolesPerDecode = 64;
// Frames already played are dropped from the front of the buffer once there are this many.
constexpr uint64_t kKeepFrames = 4096;
constexpr float kSideWeight = 0.70710678f; // -3 dB

using MemorySource = AudioDecoder::MemorySource;

// Memory callbacks for vorbisfile
size_t memoryRead(void* out, size_t size, size_t count, void* datasource) {
    auto* source = static_cast<MemorySource*>(datasource);
    if (size == 0 || count == 0) {
        return 0;
    }
    const uint64_t left = source->size - source->cursor;
    const uint64_t items = std::min<uint64_t>(count, left / size);
    std::memcpy(out, source->data + source->cursor, static_cast<size_t>(items * size));
    source->cursor += items * size;
    return static_cast<size_t>(items);
}

int memorySeek(void* datasource, ogg_int64_t offset, int whence) {
    auto* source = static_cast<MemorySource*>(datasource);
    const int64_t size = static_cast<int64_t>(source->size);
    int64_t base = 0;
    switch (whence) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = static_cast<int64_t>(source->cursor);
        break;
    case SEEK_END:
        base = size;
        break;
    default:
        return -1;
    }
    // Both terms lie in [-size, size] once checked, so the sum cannot overflow.
    if (offset < -size || offset > size) {
        return -1;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > size) {
        return -1;
    }
    source->cursor = static_cast<uint64_t>(target);
    return 0;
}

long memoryTell(void* datasource) {
    return static_cast<long>(static_cast<MemorySource*>(datasource)->cursor);
}

int16_t toSample(float value) {
    const float scaled = std::round(value * 32767.0f);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

} // namespace

// The ITU weights (front 1, centre and surrounds -3 dB, rear centre -6 dB, no low-frequency
// channel), scaled down where a side's weights add up to more than 1 so nothing clips.
void AudioDecoder::mixWeights(int channels, int channel, float& left, float& right) {
    float leftTotal = 0.0f;
    float rightTotal = 0.0f;
    for (int c = 0; c < channels && c < kMaxChannels; ++c) {
        float l = 0.0f;
        float r = 0.0f;
        ituWeights(channels, c, l, r);
        leftTotal += l;
        rightTotal += r;
    }
    ituWeights(channels, channel, left, right);
    const float scale = 1.0f / std::max(1.0f, std::max(leftTotal, rightTotal));
    left *= scale;
    right *= scale;
}

void AudioDecoder::ituWeights(int channels, int channel, float& left, float& right) {
    enum Place { kLeft, kRight, kCentre, kSideLeft, kSideRight, kRearCentre, kLowFrequency };
    // Vorbis channel order for one to eight channels.
    static const Place kOrder[kMaxChannels][kMaxChannels] = {
        {kCentre},
        {kLeft, kRight},
        {kLeft, kCentre, kRight},
        {kLeft, kRight, kSideLeft, kSideRight},
        {kLeft, kCentre, kRight, kSideLeft, kSideRight},
        {kLeft, kCentre, kRight, kSideLeft, kSideRight, kLowFrequency},
        {kLeft, kCentre, kRight, kSideLeft, kSideRight, kRearCentre, kLowFrequency},
        {kLeft, kCentre, kRight, kSideLeft, kSideRight, kSideLeft, kSideRight, kLowFrequency},
    };
    left = 0.0f;
    right = 0.0f;
    if (channels < 1 || channels > kMaxChannels || channel < 0 || channel >= channels) {
        return;
    }
    if (channels == 1) {
        left = right = 1.0f; // mono is the same sound on both sides
        return;
    }
    switch (kOrder[channels - 1][channel]) {
    case kLeft:
        left = 1.0f;
        break;
    case kRight:
        right = 1.0f;
        break;
    case kCentre:
        left = right = kSideWeight;
        break;
    case kSideLeft:
        left = kSideWeight;
        break;
    case kSideRight:
        right = kSideWeight;
        break;
    case kRearCentre:
        left = right = kSideWeight * kSideWeight;
        break;
    case kLowFrequency:
        break;
    }
}

bool AudioDecoder::open(const void* data, uint64_t size) {
    close();
    if (data == nullptr || size == 0 ||
        size > static_cast<uint64_t>(std::numeric_limits<long>::max())) {
        return false;
    }
    const ov_callbacks callbacks{memoryRead, memorySeek, nullptr, memoryTell};
    source = MemorySource{static_cast<const unsigned char*>(data), size, 0};
    file = OggVorbis_File{};
    if (ov_open_callbacks(&source, &file, nullptr, 0, callbacks) < 0) {
        return false; // vorbisfile has already cleared the half-opened file
    }
    const vorbis_info* info = ov_info(&file, 0);
    const ogg_int64_t total = ov_pcm_total(&file, -1);
    bool playable = ov_seekable(&file) != 0 && info != nullptr && info->rate > 0 && total >= 0;
    // Every link must have a channel layout we know how to mix.
    const long links = ov_streams(&file);
    for (long i = 0; playable && i < links; ++i) {
        const vorbis_info* link = ov_info(&file, static_cast<int>(i));
        playable = link != nullptr && link->channels >= 1 && link->channels <= kMaxChannels;
    }
    if (!playable) {
        ov_clear(&file);
        return false;
    }
    streamRate = static_cast<int>(info->rate);
    streamChannels = info->channels;
    totalFrames = static_cast<uint64_t>(total);
    opened = true;
    buffer.clear();
    bufferStart = 0;
    sourcePosition = 0.0;
    exhausted = false;
    return true;
}

void AudioDecoder::close() {
    if (opened) {
        ov_clear(&file);
        opened = false;
    }
    buffer.clear();
    buffer.shrink_to_fit();
}

bool AudioDecoder::rewind() {
    if (!opened || ov_pcm_seek(&file, 0) != 0) {
        return false;
    }
    buffer.clear();
    bufferStart = 0;
    sourcePosition = 0.0;
    exhausted = false;
    return true;
}

bool AudioDecoder::finished() const {
    return !opened || (exhausted && static_cast<double>(bufferedUntil()) <= sourcePosition);
}

// Appends one decoder read, mixed to stereo, to the buffer; false once nothing more decodes.
bool AudioDecoder::decodeMore() {
    if (exhausted) {
        return false;
    }
    for (int holes = 0; holes <= kMaxHolesPerDecode; ++holes) {
        float** pcm = nullptr;
        int link = 0;
        const long got = ov_read_float(&file, &pcm, kDecodeFrames, &link);
        if (got == OV_HOLE) {
            continue;
        }
        const vorbis_info* info = got > 0 ? ov_info(&file, link) : nullptr;
        if (info == nullptr) {
            break;
        }
        const size_t start = buffer.size();
        buffer.resize(start + static_cast<size_t>(got) * 2, 0.0f);
        float* out = buffer.data() + start;
        for (int c = 0; c < info->channels; ++c) {
            float left = 0.0f;
            float right = 0.0f;
            mixWeights(info->channels, c, left, right);
            const float* in = pcm[c];
            for (long i = 0; i < got; ++i) {
                out[2 * i] += left * in[i];
                out[2 * i + 1] += right * in[i];
            }
        }
        return true;
    }
    exhausted = true;
    return false;
}

int AudioDecoder::render(int16_t* out, int frames, int outputRate) {
    if (!opened || outputRate <= 0) {
        return 0;
    }
    // Linear interpolation between the two stream frames around each output frame; at equal
    // rates every output frame lands on a stream frame and is copied as it is.
    const double step = static_cast<double>(streamRate) / outputRate;
    int written = 0;
    while (written < frames) {
        const double whole = std::floor(sourcePosition);
        const auto index = static_cast<uint64_t>(whole);
        const float fraction = static_cast<float>(sourcePosition - whole);
        while (index + (fraction > 0.0f ? 1 : 0) >= bufferedUntil() && decodeMore()) {
        }
        if (index >= bufferedUntil()) {
            break;
        }
        const float* here = buffer.data() + (index - bufferStart) * 2;
        float left = here[0];
        float right = here[1];
        if (fraction > 0.0f && index + 1 < bufferedUntil()) {
            left += (here[2] - left) * fraction;
            right += (here[3] - right) * fraction;
        }
        out[2 * written] = toSample(left * volume);
        out[2 * written + 1] = toSample(right * volume);
        ++written;
        sourcePosition += step;
    }
    const auto played = static_cast<uint64_t>(sourcePosition);
    if (played > bufferStart + kKeepFrames) {
        const uint64_t drop = std::min<uint64_t>(played - bufferStart, buffer.size() / 2);
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(drop * 2));
        bufferStart += drop;
    }
    return written;
}
