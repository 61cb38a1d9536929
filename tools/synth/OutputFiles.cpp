#include "OutputFiles.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "../Failure.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForWriting(const std::string& path) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        reportFailure("cannot write " + path);
    }
    return file;
}

bool finish(File file, const std::string& path) {
    bool ok = std::ferror(file.get()) == 0;
    ok = std::fclose(file.release()) == 0 && ok;
    if (!ok) {
        reportFailure("error while writing " + path);
    }
    return ok;
}

// The whole of `bytes`, then the close; false (reported) when either fails.
bool writeAll(File file, const std::string& path, const std::vector<unsigned char>& bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        reportFailure("error while writing " + path);
        return false;
    }
    return finish(std::move(file), path);
}

void putLe(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<unsigned char>((value >> (8 * i)) & 0xFF));
    }
}

void putText(std::vector<unsigned char>& out, const char* text) {
    for (; *text != '\0'; ++text) {
        out.push_back(static_cast<unsigned char>(*text));
    }
}

bool writePages(std::FILE* file, ogg_stream_state& stream, bool flush) {
    ogg_page page;
    while (flush ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)) {
        if (std::fwrite(page.header, 1, page.header_len, file) !=
                static_cast<size_t>(page.header_len) ||
            std::fwrite(page.body, 1, page.body_len, file) != static_cast<size_t>(page.body_len)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool writeOgg(const std::string& path, const StereoBuffer& audio) {
    File file = openForWriting(path);
    if (!file) {
        return false;
    }
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, 2, 44100, kVorbisQuality) != 0) {
        vorbis_info_clear(&info);
        reportFailure("the Vorbis encoder refused 44100 Hz stereo");
        return false;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_comment_add_tag(&comment, "TITLE", "lumenfall");
    vorbis_dsp_state state;
    vorbis_block block;
    vorbis_analysis_init(&state, &info);
    vorbis_block_init(&state, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, kOggSerial);

    ogg_packet header, headerComment, headerCode;
    vorbis_analysis_headerout(&state, &comment, &header, &headerComment, &headerCode);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &headerComment);
    ogg_stream_packetin(&stream, &headerCode);
    bool ok = writePages(file.get(), stream, true);

    const size_t chunk = 4096;
    size_t pos = 0;
    bool ended = false;
    while (ok && !ended) {
        size_t count = std::min(chunk, audio.frames() - pos);
        if (count == 0) {
            vorbis_analysis_wrote(&state, 0);
        } else {
            float** buffer = vorbis_analysis_buffer(&state, static_cast<int>(count));
            std::copy(audio.left.begin() + pos, audio.left.begin() + pos + count, buffer[0]);
            std::copy(audio.right.begin() + pos, audio.right.begin() + pos + count, buffer[1]);
            vorbis_analysis_wrote(&state, static_cast<int>(count));
            pos += count;
        }
        while (ok && vorbis_analysis_blockout(&state, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (ok && vorbis_bitrate_flushpacket(&state, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                ok = writePages(file.get(), stream, false);
                if (packet.e_o_s) {
                    ended = true;
                }
            }
        }
    }
    ok = ok && writePages(file.get(), stream, true);

    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&state);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    if (!ok) {
        reportFailure("error while writing " + path);
        return false;
    }
    return finish(std::move(file), path);
}

bool writeWav(const std::string& path, const StereoBuffer& audio) {
    File file = openForWriting(path);
    if (!file) {
        return false;
    }
    const uint32_t dataBytes = static_cast<uint32_t>(audio.frames() * 4);
    std::vector<unsigned char> bytes;
    bytes.reserve(44 + dataBytes);
    putText(bytes, "RIFF");
    putLe(bytes, 36 + dataBytes, 4);
    putText(bytes, "WAVEfmt ");
    putLe(bytes, 16, 4);
    putLe(bytes, 1, 2); // PCM
    putLe(bytes, 2, 2); // channels
    putLe(bytes, 44100, 4);
    putLe(bytes, 44100 * 4, 4); // bytes a second
    putLe(bytes, 4, 2);         // bytes a frame
    putLe(bytes, 16, 2);
    putText(bytes, "data");
    putLe(bytes, dataBytes, 4);
    for (size_t i = 0; i < audio.frames(); ++i) {
        for (float sample : {audio.left[i], audio.right[i]}) {
            const long value = std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f);
            putLe(bytes, static_cast<uint32_t>(static_cast<int16_t>(value)) & 0xFFFF, 2);
        }
    }
    return writeAll(std::move(file), path, bytes);
}

bool writeLevelTrack(const std::string& path, const std::vector<uint16_t>& samples) {
    File file = openForWriting(path);
    if (!file) {
        return false;
    }
    std::vector<unsigned char> bytes;
    bytes.reserve(samples.size() * 2);
    for (uint16_t sample : samples) {
        putLe(bytes, sample, 2);
    }
    return writeAll(std::move(file), path, bytes);
}

bool writeEvents(const std::string& path, const std::vector<NoteEvent>& events) {
    File file = openForWriting(path);
    if (!file) {
        return false;
    }
    std::vector<unsigned char> bytes;
    bytes.reserve(events.size() * 8);
    for (const NoteEvent& event : events) {
        putLe(bytes, event.tick, 4);
        bytes.push_back(1); // kind: note-on
        bytes.push_back(event.channel);
        bytes.push_back(event.value);
        bytes.push_back(0);
    }
    return writeAll(std::move(file), path, bytes);
}
