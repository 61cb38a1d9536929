// The music decoder on arbitrary headers: the input's first two pieces become the comment and
// setup headers of a mono Ogg Vorbis stream, the rest one audio packet, all in pages with good
// checksums (so the bytes reach the header check and libvorbis, not the page search). A stream
// the decoder opens must render without a fault; the fuzzer's memory limit catches headers
// that ask libvorbis for more than the check counted.

#include <cstdint>
#include <cstdlib>
#include <string>

#include <ogg/ogg.h>

#include "FuzzSupport.h"
#include "platform/AudioDecoder.h"

namespace {

void addPacket(ogg_stream_state& stream, const std::string& bytes, int number, std::string& file) {
    ogg_packet packet{};
    packet.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
    packet.bytes = static_cast<long>(bytes.size());
    packet.b_o_s = number == 0;
    packet.e_o_s = number == 3;
    packet.granulepos = number == 3 ? 4096 : 0;
    packet.packetno = number;
    ogg_stream_packetin(&stream, &packet);
    for (ogg_page page; ogg_stream_flush(&stream, &page) != 0;) {
        file.append(reinterpret_cast<const char*>(page.header),
                    static_cast<size_t>(page.header_len));
        file.append(reinterpret_cast<const char*>(page.body), static_cast<size_t>(page.body_len));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Pieces pieces(data, size);
    bool absent = false;
    const std::string comment = pieces.next(absent);
    const std::string setup = pieces.next(absent);
    const std::string audio = pieces.next(absent);

    // Mono, 44.1 kHz, block sizes 256 and 2048.
    static const char kIdentification[] = "\x01vorbis\0\0\0\0\x01\x44\xac\0\0\0\0\0\0\0\0\0\0\0\0\0"
                                          "\0\xb8\x01";
    std::string file;
    ogg_stream_state stream;
    ogg_stream_init(&stream, 1);
    addPacket(stream, std::string(kIdentification, sizeof kIdentification - 1), 0, file);
    addPacket(stream, "\x03vorbis" + comment, 1, file);
    addPacket(stream, "\x05vorbis" + setup, 2, file);
    addPacket(stream, audio, 3, file);
    ogg_stream_clear(&stream);

    AudioDecoder decoder;
    if (decoder.open(file.data(), file.size())) {
        int16_t out[2 * 512];
        for (int i = 0; i < 16; ++i) {
            const int got = decoder.render(out, 512, 48000);
            if (got < 0 || got > 512) {
                std::abort();
            }
            if (got < 512) {
                break;
            }
        }
    }
    return 0;
}
