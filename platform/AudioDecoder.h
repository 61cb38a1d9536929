#pragma once
// One Ogg Vorbis stream decoded from a memory block the caller owns (it must outlive the
// decoder), turned into 16-bit stereo at the output's rate: any channel count one to eight is
// mixed down with the usual coefficients, any sample rate resampled. Positions are frames of
// the stream as decoded, whatever the output's rate. Not thread-safe: the owner locks.

#include <cstdint>
#include <vector>

#include <vorbis/vorbisfile.h>

class AudioDecoder {
public:
    AudioDecoder() = default;
    ~AudioDecoder() { close(); }
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // False for anything that is not a whole-headed Ogg Vorbis stream of 1 to 8 channels, or
    // whose headers do not fit (below).
    bool open(const void* data, uint64_t size);
    // Whether the tables the stream's headers (every chained link's) ask libvorbis for fit in
    // the decoder's fixed budget: a few header bytes can ask for gigabytes. Anything that
    // hands bytes to libvorbis checks this first.
    static bool headersFit(const void* data, uint64_t size);
    void close();
    bool isOpen() const { return opened; }

    // The stream's own format (its first link): what positions and lengths count in.
    int rate() const { return streamRate; }
    int channels() const { return streamChannels; }
    uint64_t lengthFrames() const { return totalFrames; }

    // Back to the first frame; the next render starts there.
    bool rewind();
    void setVolume(float value) { volume = value; }

    // Writes up to `frames` stereo frames at `outputRate` into `out`; returns how many.
    // Fewer than asked only at the end of what decodes.
    int render(int16_t* out, int frames, int outputRate);
    // Stream position (in stream frames, fractional when resampling) of the next frame render
    // would write.
    double position() const { return sourcePosition; }
    // True once the decoder has nothing more: the end, or damage it cannot get past.
    bool finished() const;

    // The stereo down-mix weights for one channel of a `channels`-channel Vorbis frame
    // (Vorbis channel order): the centre is heard on both sides, the low-frequency channel
    // is left out, and no side adds up to more than full scale.
    static void mixWeights(int channels, int channel, float& left, float& right);

    // What vorbisfile reads the encoded bytes through.
    struct MemorySource {
        const unsigned char* data = nullptr;
        uint64_t size = 0;
        uint64_t cursor = 0;
    };

private:
    static void ituWeights(int channels, int channel, float& left, float& right);
    bool decodeMore();
    uint64_t bufferedUntil() const { return bufferStart + buffer.size() / 2; }

    bool opened = false;
    MemorySource source;
    OggVorbis_File file{};
    int streamRate = 0;
    int streamChannels = 0;
    uint64_t totalFrames = 0;
    float volume = 1.0f;
    // Decoded stereo frames (interleaved floats) starting at stream frame `bufferStart`.
    std::vector<float> buffer;
    uint64_t bufferStart = 0;
    double sourcePosition = 0.0;
    bool exhausted = false;
};
