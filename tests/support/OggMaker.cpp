#include "support/OggMaker.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>

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
    std::vector<uint8_t> out;
    vorbis_info info;
    vorbis_info_init(&info);
    if (channels < 1 || rate <= 0 || !(seconds >= 0.0) ||
        vorbis_encode_init_vbr(&info, channels, rate, 0.1f) != 0) {
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
    const long totalFrames = std::lround(seconds * rate);
    constexpr long kChunk = 1024;
    const double step = 2.0 * kPi * 440.0 / rate;
    for (long done = 0; done < totalFrames;) {
        const long count = std::min(kChunk, totalFrames - done);
        float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(count));
        for (long i = 0; i < count; ++i) {
            const float value = 0.5f * static_cast<float>(std::sin(step * (done + i)));
            for (int c = 0; c < channels; ++c) {
                buffer[c][i] = value;
            }
        }
        vorbis_analysis_wrote(&dsp, static_cast<int>(count));
        drainPackets(dsp, block, stream, out);
        done += count;
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

} // namespace testing_support
