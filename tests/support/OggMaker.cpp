#include "support/OggMaker.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace testing_support {
namespace {

constexpr double kPi = 3.14159265358979323846;

void append(std::vector<uint8_t>& out, const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

// Moves every finished packet of the analysis into the Ogg stream, and full pages out.
void drainPackets(vorbis_dsp_state& dsp, vorbis_block& block, ogg_stream_state& stream,
                  std::vector<uint8_t>& out) {
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
        vorbis_analysis(&block, nullptr);
        vorbis_bitrate_addblock(&block);
        while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
            ogg_stream_packetin(&stream, &packet);
            while (ogg_stream_pageout(&stream, &page) != 0) {
                append(out, page);
            }
        }
    }
}

} // namespace

std::vector<uint8_t> makeOgg(double seconds, int channels, int rate) {
    if (channels < 1 || rate <= 0 || !(seconds >= 0.0)) {
        return {};
    }
    const auto frames = static_cast<size_t>(std::lround(seconds * rate));
    std::vector<float> sine(frames);
    const double step = 2.0 * kPi * 440.0 / rate;
    for (size_t i = 0; i < frames; ++i) {
        sine[i] = 0.5f * static_cast<float>(std::sin(step * static_cast<double>(i)));
    }
    return encodeOgg(std::vector<std::vector<float>>(static_cast<size_t>(channels), sine), rate);
}

std::vector<uint8_t> encodeOgg(const std::vector<std::vector<float>>& channels, int rate) {
    std::vector<uint8_t> out;
    const int count = static_cast<int>(channels.size());
    vorbis_info info;
    vorbis_info_init(&info);
    if (count < 1 || rate <= 0 || vorbis_encode_init_vbr(&info, count, rate, 0.1f) != 0) {
        vorbis_info_clear(&info);
        return out;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block block;
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 1234);

    // Headers, each on its own page boundary as decoders expect.
    ogg_packet header, headerComment, headerCode;
    vorbis_analysis_headerout(&dsp, &comment, &header, &headerComment, &headerCode);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &headerComment);
    ogg_stream_packetin(&stream, &headerCode);
    ogg_page page;
    while (ogg_stream_flush(&stream, &page) != 0) {
        append(out, page);
    }

    // Sound, fed in chunks
    const long totalFrames = static_cast<long>(channels[0].size());
    constexpr long kChunk = 1024;
    for (long done = 0; done < totalFrames;) {
        const long chunk = std::min(kChunk, totalFrames - done);
        float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(chunk));
        for (int c = 0; c < count; ++c) {
            std::copy(channels[c].begin() + done, channels[c].begin() + done + chunk, buffer[c]);
        }
        vorbis_analysis_wrote(&dsp, static_cast<int>(chunk));
        drainPackets(dsp, block, stream, out);
        done += chunk;
    }
    vorbis_analysis_wrote(&dsp, 0); // end of stream
    drainPackets(dsp, block, stream, out);
    while (ogg_stream_flush(&stream, &page) != 0) {
        append(out, page);
    }

    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

bool setLastGranule(std::vector<uint8_t>& ogg, int64_t granule) {
    // Pages start with "OggS"; the granule is 8 bytes at offset 6, the checksum 4 at 22.
    size_t last = ogg.size();
    size_t at = 0;
    while (at + 27 <= ogg.size() && std::memcmp(ogg.data() + at, "OggS", 4) == 0) {
        const size_t segments = ogg[at + 26];
        size_t size = 27 + segments;
        for (size_t i = 0; i < segments && at + 27 + i < ogg.size(); ++i) {
            size += ogg[at + 27 + i];
        }
        last = at;
        at += size;
    }
    if (last == ogg.size() || at != ogg.size()) {
        return false;
    }
    uint8_t* page = ogg.data() + last;
    for (int b = 0; b < 8; ++b) {
        page[6 + b] = static_cast<uint8_t>(static_cast<uint64_t>(granule) >> (8 * b));
    }
    std::memset(page + 22, 0, 4);
    uint32_t crc = 0;
    for (size_t i = last; i < ogg.size(); ++i) { // Ogg's CRC-32: polynomial 0x04c11db7, MSB first
        crc ^= static_cast<uint32_t>(ogg[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04c11db7u : crc << 1;
        }
    }
    for (int b = 0; b < 4; ++b) {
        page[22 + b] = static_cast<uint8_t>(crc >> (8 * b));
    }
    return true;
}

} // namespace testing_support
