// Files anyone can replace: truncated, oversized and lying content for every reader the show
// has, and nonsense scores for the music builder. Each must end in a clear message and a clean
// failure (or a clean success), never a crash, a hang or an allocation that takes the machine.

#include <gtest/gtest.h>

#include <ogg/ogg.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gpu_fixture.h"
#include "ife/Ife.h"
#include "loader/Asset.h"
#include "loader/Loader.h"
#include "platform/AudioDecoder.h"
#include "sync/SyncTracks.h"
#include "texture/Image.h"

namespace fs = std::filesystem;

namespace {

using testing_support::readFile;
using testing_support::writeFile;

std::string builtAssets() {
    const char* from = std::getenv("LUMENFALL_ASSETS");
    return from != nullptr && *from != '\0' ? from : std::string(LUMENFALL_BINARY_DIR) + "/assets";
}

void putLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

std::string tgaHeader(uint8_t type, uint16_t width, uint16_t height, uint8_t bits) {
    std::string header(18, '\0');
    header[2] = static_cast<char>(type);
    header[12] = static_cast<char>(width & 0xff);
    header[13] = static_cast<char>(width >> 8);
    header[14] = static_cast<char>(height & 0xff);
    header[15] = static_cast<char>(height >> 8);
    header[16] = static_cast<char>(bits);
    header[17] = 0x20;
    return header;
}

// A PNG with a real header and an IDAT far too small for the size it claims.
std::string pngClaiming(uint32_t width, uint32_t height) {
    auto be = [](std::string& out, uint32_t v) {
        for (int i = 3; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    be(ihdr, width);
    be(ihdr, height);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA
    be(png, 13);
    png += "IHDR" + ihdr;
    be(png, 0);  // CRC: the decoder does not check it
    const std::string idat("\x78\x01\x01\x00\x00\xff\xff\x00\x00\x00\x01", 11);  // empty zlib stream
    be(png, static_cast<uint32_t>(idat.size()));
    png += "IDAT" + idat;
    be(png, 0);
    be(png, 0);
    png += "IEND";
    be(png, 0);
    return png;
}

void putBe(std::string& out, uint32_t value) {
    for (int i = 3; i >= 0; --i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

// A PNG of the given header with `zlibData` as its one IDAT (and a grey palette for colour
// type 3). Chunk CRCs are left 0: the decoder does not check them.
std::string pngOf(uint32_t width, uint32_t height, int depth, int colourType, int interlace,
                  const std::string& zlibData) {
    std::string png = "\x89PNG\r\n\x1a\n";
    auto chunk = [&png](const char* type, const std::string& data) {
        putBe(png, static_cast<uint32_t>(data.size()));
        png += type + data;
        putBe(png, 0);
    };
    std::string ihdr;
    putBe(ihdr, width);
    putBe(ihdr, height);
    ihdr += {static_cast<char>(depth), static_cast<char>(colourType), 0, 0,
             static_cast<char>(interlace)};
    chunk("IHDR", ihdr);
    if (colourType == 3) {
        std::string palette;
        for (int i = 0; i < 256; ++i)
            palette += std::string(3, static_cast<char>(i));
        chunk("PLTE", palette);
    }
    chunk("IDAT", zlibData);
    chunk("IEND", "");
    return png;
}

// A zlib stream of `megabytes` MB of zeros, about 1 KB per MB: one flushed deflate of a zero
// MB repeated (each full flush forgets what came before, so the copies stand alone).
std::string zerosZlib(int megabytes) {
    std::vector<uint8_t> zeros(1 << 20);
    std::vector<uint8_t> out(64 << 10);
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    zs.next_in = zeros.data();
    zs.avail_in = static_cast<uInt>(zeros.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FULL_FLUSH);
    const std::string block(out.begin(), out.end() - zs.avail_out);
    deflateEnd(&zs);
    std::string stream = "\x78\x01";
    for (int i = 0; i < megabytes; ++i)
        stream += block;
    return stream + std::string("\x03\x00\x00\x00\x00\x00", 6); // last block; Adler-32 unread
}

// An Ogg Vorbis stream of headers only, mono 44.1 kHz, whose setup holds 256 codebooks of
// 8 million entries each: 18 KB that would have libvorbis fill 2 GB of code lengths.
std::string vorbisWithHugeCodebooks() {
    const auto packetOf = [](oggpack_buffer& bits, int number) {
        ogg_packet packet{};
        packet.packet = oggpack_get_buffer(&bits);
        packet.bytes = oggpack_bytes(&bits);
        packet.b_o_s = number == 0;
        packet.packetno = number;
        return packet;
    };
    const auto header = [](oggpack_buffer& bits, int type) {
        oggpack_writeinit(&bits);
        oggpack_write(&bits, static_cast<unsigned long>(type), 8);
        for (const char c : std::string("vorbis"))
            oggpack_write(&bits, static_cast<unsigned char>(c), 8);
    };
    oggpack_buffer id, comment, setup;
    header(id, 1);
    oggpack_write(&id, 0, 32);     // version
    oggpack_write(&id, 1, 8);      // channels
    oggpack_write(&id, 44100, 32); // rate
    oggpack_write(&id, 0, 32);
    oggpack_write(&id, 0, 32);
    oggpack_write(&id, 0, 32);
    oggpack_write(&id, 8, 4); // block sizes 256 and 2048
    oggpack_write(&id, 11, 4);
    oggpack_write(&id, 1, 1);
    header(comment, 3);
    oggpack_write(&comment, 0, 32); // no vendor, no comments
    oggpack_write(&comment, 0, 32);
    oggpack_write(&comment, 1, 1);
    header(setup, 5);
    oggpack_write(&setup, 255, 8); // 256 codebooks
    const uint32_t entries = (1u << 23) - 1;
    for (int book = 0; book < 256; ++book) {
        oggpack_write(&setup, 0x564342, 24);
        oggpack_write(&setup, 1, 16); // one dimension
        oggpack_write(&setup, entries, 24);
        oggpack_write(&setup, 1, 1); // lengths in order: 2 of length 1, 4 of length 2, ...
        oggpack_write(&setup, 0, 5);
        for (uint32_t given = 0, length = 1; given < entries; ++length) {
            const uint32_t left = entries - given;
            const uint32_t count = std::min(left, 1u << length);
            int width = 0;
            for (uint32_t v = left; v != 0; v >>= 1)
                ++width;
            oggpack_write(&setup, count, width);
            given += count;
        }
        oggpack_write(&setup, 0, 4); // no values
    }
    ogg_stream_state stream;
    ogg_stream_init(&stream, 1);
    ogg_packet packets[3] = {packetOf(id, 0), packetOf(comment, 1), packetOf(setup, 2)};
    std::string file;
    for (ogg_packet& packet : packets) {
        ogg_stream_packetin(&stream, &packet);
        for (ogg_page page; ogg_stream_flush(&stream, &page) != 0;) {
            file.append(reinterpret_cast<const char*>(page.header), page.header_len);
            file.append(reinterpret_cast<const char*>(page.body), page.body_len);
        }
    }
    ogg_stream_clear(&stream);
    oggpack_writeclear(&id);
    oggpack_writeclear(&comment);
    oggpack_writeclear(&setup);
    return file;
}

// One zip entry as the archive claims it. A claim of 4 GB or more is written the zip64 way:
// 0xffffffff in the 32-bit field and the real value in a zip64 extra field.
struct ZipEntry {
    std::string name;
    uint16_t method;        // 0 stored, 8 deflated
    std::string data;       // the bytes as stored
    uint64_t claimedSize;   // the uncompressed size the headers claim
};

std::string zipOf(const std::vector<ZipEntry>& entries) {
    std::string zip;
    std::string central;
    for (const ZipEntry& e : entries) {
        const bool zip64 = e.claimedSize >= 0xffffffffu;
        std::string extra;
        if (zip64) {
            putLe(extra, 1, 2); // the zip64 extended information
            putLe(extra, 8, 2);
            putLe(extra, static_cast<uint32_t>(e.claimedSize), 4);
            putLe(extra, static_cast<uint32_t>(e.claimedSize >> 32), 4);
        }
        const uint32_t claimed32 = zip64 ? 0xffffffffu : static_cast<uint32_t>(e.claimedSize);
        const uint32_t offset = static_cast<uint32_t>(zip.size());
        zip += "PK\x03\x04";
        putLe(zip, zip64 ? 45 : 20, 2);
        putLe(zip, 0, 2);
        putLe(zip, e.method, 2);
        putLe(zip, 0, 4);  // time, date
        putLe(zip, 0, 4);  // CRC: the loader does not check it
        putLe(zip, static_cast<uint32_t>(e.data.size()), 4);
        putLe(zip, claimed32, 4);
        putLe(zip, static_cast<uint32_t>(e.name.size()), 2);
        putLe(zip, static_cast<uint32_t>(extra.size()), 2);
        zip += e.name + extra + e.data;

        central += "PK\x01\x02";
        putLe(central, 45, 2);
        putLe(central, zip64 ? 45 : 20, 2);
        putLe(central, 0, 2);
        putLe(central, e.method, 2);
        putLe(central, 0, 4);
        putLe(central, 0, 4);
        putLe(central, static_cast<uint32_t>(e.data.size()), 4);
        putLe(central, claimed32, 4);
        putLe(central, static_cast<uint32_t>(e.name.size()), 2);
        putLe(central, static_cast<uint32_t>(extra.size()), 2);
        putLe(central, 0, 2);
        putLe(central, 0, 2);
        putLe(central, 0, 2);
        putLe(central, 0, 4);
        putLe(central, offset, 4);
        central += e.name + extra;
    }
    const uint32_t centralOffset = static_cast<uint32_t>(zip.size());
    zip += central;
    zip += "PK\x05\x06";
    putLe(zip, 0, 4);
    putLe(zip, static_cast<uint32_t>(entries.size()), 2);
    putLe(zip, static_cast<uint32_t>(entries.size()), 2);
    putLe(zip, static_cast<uint32_t>(central.size()), 4);
    putLe(zip, centralOffset, 4);
    putLe(zip, 0, 2);
    return zip;
}

// A deflate stream of one stored block holding `bytes` (at most 65535 of them).
std::string storedDeflate(const std::string& bytes) {
    std::string out = "\x01";
    putLe(out, static_cast<uint32_t>(bytes.size()), 2);
    putLe(out, static_cast<uint32_t>(~bytes.size() & 0xffff), 2);
    return out + bytes;
}

class HostileContent : public GpuTest {
protected:
    // Every message so far, for failure output.
    static std::string errorsText() { return errorListText(); }

    // A false result must come with at least one message.
    static void expectCleanResult(bool ok, const std::string& what) {
        if (!ok) {
            EXPECT_FALSE(errorList().empty()) << what << " failed without a message";
        }
    }
};

// Image headers that claim enormous sizes over a few bytes of data: the decoder refuses them
// quickly, without allocating or filling what the header claims.
TEST_F(HostileContent, ImagesClaimingAbsurdSizesAreRefused) {
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"TGA 65535 x 65535, 32-bit, 10 bytes of pixels", tgaHeader(2, 65535, 65535, 32) + std::string(10, 'x')},
        // 174 MB of RLE pixels from a 19-byte file: found by fuzzing.
        {"RLE TGA 10272 x 4239, 32-bit, one packet",
         tgaHeader(10, 10272, 4239, 32) + std::string("\x8f\x10\x20\x30\x40", 5)},
        {"RLE TGA 3812 x 43121, 24-bit, one packet",
         tgaHeader(10, 3812, 43121, 24) + std::string("\x71\xa8\x18\x20", 4)},
        {"RLE TGA 8192 x 8192, 24-bit, one packet",
         tgaHeader(10, 8192, 8192, 24) + std::string("\xff\x01\x02\x03", 4)},
        {"PNG 20000 x 20000 RGBA with an empty IDAT", pngClaiming(20000, 20000)},
        {"PNG 1 x 2000000000", pngClaiming(1, 2000000000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        clearErrorList();
        Image image;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = Image::Decode(image, static_cast<uint32_t>(c.bytes.size()),
                                      reinterpret_cast<const uint8_t*>(c.bytes.data()));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(ok) << "decoded to " << image.width << " x " << image.height;
        EXPECT_EQ(image.pixels, nullptr);
        EXPECT_EQ(errorList().size(), 1u);
        EXPECT_FALSE(errorList().empty() || errorList()[0].empty()) << "no message";
        EXPECT_LT(seconds, 1.0) << "the decoder worked on what the header claimed";
    }
}

// The outcome of `work` in a child process: its result and messages (or "killed" when it did
// not exit by itself), and how far its resident set grew beyond what it started with. Measured
// rather than limited, so that it holds under a sanitizer or an emulator as well.
struct ChildRun {
    bool ok = false;
    std::string messages;
    uint64_t grownBytes = 0;
};

template <typename Work> ChildRun runInChild(Work work) {
    int channel[2];
    if (pipe(channel) != 0)
        return {false, "no pipe", 0};
    // A forked child starts with its parent's resident pages.
    long sizePages = 0;
    long residentPages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &sizePages, &residentPages) != 2)
            residentPages = 0;
        std::fclose(statm);
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        clearErrorList();
        const bool ok = work();
        std::string text;
        for (const std::string& message : errorList())
            text += message + "\n";
        const bool written =
            write(channel[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(written ? (ok ? 0 : 1) : 2);
    }
    close(channel[1]);
    ChildRun result;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        result.messages.append(buffer, n);
    close(channel[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const uint64_t peak = static_cast<uint64_t>(usage.ru_maxrss) * 1024;
    const uint64_t start = static_cast<uint64_t>(residentPages) * sysconf(_SC_PAGESIZE);
    result.grownBytes = peak > start ? peak - start : 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
        result.messages = "killed: " + result.messages;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// PNG data that inflates far past what its header's size needs is refused, with a message and
// before the decoder's buffer grows: 256 MB of zeros under a 64 x 64 header, in 256 KB, grows
// the decoding process by less than 16 MB. A damaged chunk name still gives a readable
// message. Data of exactly the needed size, for every pixel layout and interlacing, decodes.
TEST_F(HostileContent, PngDataBeyondItsSizeIsRefusedWithinBudget) {
    const std::string bomb = pngOf(64, 64, 8, 6, 0, zerosZlib(256));
    ASSERT_LT(bomb.size(), 300000u);
    const ChildRun bombed = runInChild([&bomb] {
        Image image;
        return Image::Decode(image, static_cast<uint32_t>(bomb.size()),
                             reinterpret_cast<const uint8_t*>(bomb.data()));
    });
    EXPECT_FALSE(bombed.ok);
    EXPECT_EQ(bombed.messages, "image data larger than its size needs: 64 x 64\n");
    EXPECT_LT(bombed.grownBytes, 16u << 20);

    // A chunk with no name after the header: the decoder's reason would start with the name's
    // four zero bytes, an empty text.
    std::string unnamed = pngOf(2, 2, 8, 0, 0, zerosZlib(0));
    unnamed.insert(33, std::string(12, '\0'));
    clearErrorList();
    Image damaged;
    EXPECT_FALSE(Image::Decode(damaged, static_cast<uint32_t>(unnamed.size()),
                               reinterpret_cast<const uint8_t*>(unnamed.data())));
    EXPECT_EQ(errorsText(), "- corrupt image data\n");

    const struct {
        uint32_t width, height;
        int depth, colourType, interlace, channels;
        uint64_t rawBytes; // filter byte and packed pixels per row of each pass
    } layouts[] = {
        {13, 7, 8, 6, 0, 4, 7 * (1 + 13 * 4)},
        {13, 7, 1, 0, 1, 1, 1 * 2 + 1 * 2 + 1 * 2 + 2 * 2 + 2 * 2 + 4 * 2 + 3 * 3},
        {5, 3, 16, 2, 1, 3, 7 + 7 + 0 + 7 + 19 + 2 * 13 + 31},
        {9, 2, 4, 3, 1, 3, 2 + 2 + 0 + 2 + 0 + 3 + 6},
        {3, 17, 16, 4, 0, 2, 17 * (1 + 3 * 4)},
    };
    for (const auto& l : layouts) {
        SCOPED_TRACE(std::to_string(l.width) + " x " + std::to_string(l.height) + ", depth " +
                     std::to_string(l.depth) + ", colour type " + std::to_string(l.colourType) +
                     ", interlace " + std::to_string(l.interlace));
        const std::string raw(l.rawBytes, '\0');
        std::string packed(compressBound(raw.size()), '\0');
        uLongf packedSize = packed.size();
        ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                            reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9),
                  Z_OK);
        packed.resize(packedSize);
        const std::string png =
            pngOf(l.width, l.height, l.depth, l.colourType, l.interlace, packed);
        clearErrorList();
        Image image;
        EXPECT_TRUE(Image::Decode(image, static_cast<uint32_t>(png.size()),
                                  reinterpret_cast<const uint8_t*>(png.data())))
            << errorsText();
        EXPECT_EQ(image.width, static_cast<int32_t>(l.width));
        EXPECT_EQ(image.channels, l.channels);
    }
}

// Music whose headers ask the decoder for gigabytes is refused before it gets them: the process
// grows by less than 16 MB.
TEST(HostileMusic, HeadersAskingForGigabytesAreRefused) {
    const std::string ogg = vorbisWithHugeCodebooks();
    ASSERT_LT(ogg.size(), 20000u);
    const ChildRun opened = runInChild([&ogg] {
        AudioDecoder decoder;
        return decoder.open(ogg.data(), ogg.size());
    });
    EXPECT_FALSE(opened.ok);
    EXPECT_EQ(opened.messages, "");
    EXPECT_LT(opened.grownBytes, 16u << 20);
}

// Entries whose headers lie: a 4 GB claim is refused before any allocation, a plausible but
// false size fails on the short read, an unknown method cannot be opened. Each with its box.
// Over 256 MB is refused however much the packed bytes could inflate to, and a zip64 size is
// never cut to its low 32 bits (4 GB + 5 would read as the 5 bytes "small").
TEST_F(HostileContent, ZipEntriesLyingAboutTheirSize) {
    const std::string small = storedDeflate("small");
    // 4.2 MB of packed bytes could inflate to 4.3 GB, so only the ceiling refuses these.
    const std::string packed = small + std::string(4200000, '\0');
    const std::string zip = zipOf({
        {"assets/huge.bin", 8, small, 0xfffffff0u},
        {"assets/over-ceiling.bin", 8, packed, (256u << 20) + 1},
        {"assets/zip64.bin", 8, packed, (uint64_t{1} << 32) + 5},
        {"assets/short.bin", 8, small, 5000},
        {"assets/good.bin", 8, small, 5},
        // bzip2: minizip without bzip2 support hands such an entry back raw, still compressed.
        {"assets/bzip2.bin", 12, small, 5},
    });
    std::vector<uint8_t> bytes(zip.begin(), zip.end());
    Loader::Scramble(bytes.data(), bytes.size());
    writeFile(dir_.file("demo.dat"), bytes);
    Loader::Open("demo.dat");
    ASSERT_TRUE(Loader::archiveMode());

    const struct {
        const char* name;
        bool ok;
        const char* caption;
        const char* box;
    } cases[] = {
        {"huge.bin", false, "Loader::Get", "assets/huge.bin data alloc in demo.dat!\n"},
        {"over-ceiling.bin", false, "Loader::Get",
         "assets/over-ceiling.bin data alloc in demo.dat!\n"},
        {"zip64.bin", false, "Loader::Get", "assets/zip64.bin data alloc in demo.dat!\n"},
        {"short.bin", false, "Loader::Get", "assets/short.bin unzReadCurrentFile in demo.dat!\n"},
        {"good.bin", true, nullptr, nullptr},
        {"bzip2.bin", false, "Loader::Get::CurrentFile::CurrentFile",
         "assets/bzip2.bin unzOpenCurrentFile in demo.dat!\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t boxesBefore = boxes_.boxes().size();
        uint32_t size = 0;
        uint8_t* data = nullptr;
        EXPECT_EQ(Loader::Get(c.name, size, data), c.ok);
        if (c.ok) {
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "small");
            delete[] data;
        } else {
            EXPECT_EQ(data, nullptr) << "handed back " << size << " bytes";
            delete[] data;
            ASSERT_EQ(boxes_.boxes().size(), boxesBefore + 1);
            EXPECT_EQ(boxes_.boxes().back().caption, c.caption);
            EXPECT_EQ(boxes_.boxes().back().text, c.box);
        }
    }
    Loader::Close();
}

// Every shipped file cut short at several places, read by the reader the show uses for it.
TEST_F(HostileContent, TruncatedShippedFilesFailCleanlyOrLoad) {
    const fs::path shipped = builtAssets();
    if (!fs::is_directory(shipped)) {
        LUMENFALL_SKIP_OR_FAIL("no built content in " << shipped);
    }
    // The readers need the rest of the content beside the truncated file.
    for (const auto& entry : fs::directory_iterator(shipped)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name != "music.ogg") {
            fs::copy_file(entry.path(), dir_.file("assets/" + name));
        }
    }
    size_t checked = 0;
    for (const auto& entry : fs::directory_iterator(shipped)) {
        const std::string name = entry.path().filename().string();
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || name == "music.ogg") {
            continue;
        }
        const std::vector<uint8_t> whole = readFile(entry.path().string());
        for (const size_t keep : {size_t{1}, size_t{17}, whole.size() / 2, whole.size() - 1}) {
            if (keep == 0 || keep >= whole.size()) {
                continue;
            }
            SCOPED_TRACE(name + " cut to " + std::to_string(keep) + " bytes");
            const std::string cut = "cut" + ext;
            writeFile(dir_.file("assets/" + cut),
                      std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(keep)));
            clearErrorList();
            if (ext == ".tga" || ext == ".png") {
                Image image;
                expectCleanResult(Image::Load(image, cut), "Image::Load");
            } else if (ext == ".ife") {
                Ife ife;
                const bool ok = ife.load(cut);
                expectCleanResult(ok, "Ife::load");
                if (ok) {
                    ife.time = 100.0f;
                    ife.draw();
                }
            } else if (ext == ".glsl") {
                Program program;
                expectCleanResult(program.Load(cut), "Program::Load");
            } else if (ext == ".msd" || ext == ".rms") {
                SyncTracks sync;
                if (ext == ".rms") {
                    writeFile(dir_.file("assets/events.msd"), std::string(8, '\0'));
                    sync.trackFiles.push_back(cut);
                }
                const bool ok = sync.load(ext == ".msd" ? cut : "events.msd");
                expectCleanResult(ok, "SyncTracks::load");
                if (ok) {
                    for (uint32_t t : {0u, 123456u, 0xffffffffu}) sync.update(t);
                }
            } else {
                continue;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 20u);
}

// Files far larger than the show's own: they load or fail with a message in bounded time.
TEST_F(HostileContent, OversizedFiles) {
    // An animation whose only line is 4 MB long: the sprite count it starts with cannot fit.
    std::string longLine = "999999999";
    longLine.append(4 << 20, '7');
    writeAsset("long.ife", longLine);
    copyShader("ife.glsl");
    {
        Ife ife;
        EXPECT_FALSE(ife.load("long.ife"));
        ASSERT_FALSE(errorList().empty());
        EXPECT_EQ(errorList().back(), "Ife count error : long.ife");
    }

    // 2000 sprites of 50 keys each, all on one small image: loads, draws.
    writeAsset("dot.tga", tgaHeader(2, 1, 1, 24) + "abc");
    std::string many = "2000\r\n0\r\n";
    for (int s = 0; s < 2000; ++s) {
        many += "dot.tga\r\n\r\n\r\n50\r\n2\r\n";
        for (int k = 0; k < 50; ++k) {
            many += std::to_string(k) + " 640 360 0 0 1 1 255 255 255 255\r\n";
        }
    }
    writeAsset("many.ife", many);
    clearErrorList();
    {
        Ife ife;
        ASSERT_TRUE(ife.load("many.ife")) << errorsText();
        EXPECT_EQ(ife.sprites.size(), 2000u);
        ife.time = 25.5f;
        ife.draw();
    }

    // A million sync events, the most a file may hold, and a track of 8 Mi samples with an
    // odd byte.
    std::string events;
    for (uint32_t i = 0; i < kSyncMaxEvents; ++i) {
        putLe(events, i, 4);
        events += std::string("\x01\x02\x07\x00", 4);
    }
    writeAsset("big.msd", events);
    writeAsset("big.rms", std::string((16u << 20) + 1, '\xff'));
    SyncTracks sync;
    sync.trackFiles.push_back("big.rms");
    ASSERT_TRUE(sync.load("big.msd")) << errorsText();
    sync.update(0xffffffffu);
    EXPECT_EQ(sync.channelNotes[2], 7);
    EXPECT_EQ(sync.trackLevels[0], 0.0f);  // past the end of the track
    sync.update(10000);
    EXPECT_NEAR(sync.trackLevels[0], 65535.0f / 65536.0f, 1e-6);
}

// AddressSanitizer reserves terabytes of address space, so it cannot run under "ulimit -v".
#if defined(__SANITIZE_ADDRESS__)
constexpr const char* kMemoryLimit = "";
#else
constexpr const char* kMemoryLimit = "ulimit -v 2097152; ";
#endif

// The music builder on nonsense scores: a clean non-zero exit with a message naming the score,
// within a minute and 2 GB of address space; never a signal.
TEST(HostileScores, NonsenseScoresFailWithAMessage) {
    const std::string synth = std::string(LUMENFALL_BINARY_DIR) + "/lumenfall-synth";
    if (!fs::exists(synth)) {
        LUMENFALL_SKIP_OR_FAIL("no " << synth);
    }
    testing_support::TempDir dir;
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xff);
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "clip c" + std::to_string(i) + " notes\n  " +
                                            std::string(2000, '+') + "\n";
    const struct {
        const char* what;
        std::string score;
    } cases[] = {
        {"binary garbage", binary},
        {"unknown directive", "tempo 110\nfrobnicate 3\n"},
        {"tempo zero", "tempo 0\nlength 10\n"},
        {"tempo beyond any number", "tempo 1e999999\nlength 10\n"},
        {"negative rows", "rows_per_pattern -64\nlength 10\n"},
        {"huge rows per pattern", "rows_per_pattern 2000000000\nlength 10\n"},
        {"huge ticks per row", "ticks_per_row 2147483647\nrows_per_beat 2147483647\nlength 10\n"},
        {"huge pattern range",
         "instrument k kick\nclip c grid\n  x...\npattern 0-2000000000 rows=2000000000 k=c\n"},
        {"clip used before it is made", "pattern 0 k=nothing\n"},
        {"chord nonsense", "progression p Qm99:0 Am7:-5\n"},
        {"thousands of clips of joined nothing", deep},
        {"length far too long", "length 1e30\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string score = dir.file("score.txt");
        writeFile(score, c.score);
        const std::string out = dir.file("out");
        fs::create_directories(out);
        const std::string command = std::string(kMemoryLimit) + "exec timeout -s KILL 60 '" + synth +
                                    "' --score '" + score + "' --out '" + out + "' >'" +
                                    dir.file("stdout") + "' 2>'" + dir.file("stderr") + "'";
        const int status = std::system(command.c_str());
        const std::vector<uint8_t> err = readFile(dir.file("stderr"));
        const std::string message(err.begin(), err.end());
        ASSERT_TRUE(WIFEXITED(status)) << "no clean exit; stderr: " << message;
        const int code = WEXITSTATUS(status);
        EXPECT_NE(code, 0) << "a nonsense score was accepted";
        EXPECT_LT(code, 124) << "killed (hang, memory or a signal): " << message;
        EXPECT_NE(message.find("score.txt"), std::string::npos) << "no message naming the score: "
                                                                << message;
    }
}

}  // namespace
