#include "platform/AudioDecoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

namespace {

constexpr int kMaxChannels = 8;
constexpr int kDecodeFrames = 1024;
// A damaged stream can report many holes in a row; past this, it has ended.
constexpr int kMaxHolesPerDecode = 64;
// Frames already played are dropped from the front of the buffer once there are this many.
constexpr uint64_t kKeepFrames = 4096;
constexpr float kSideWeight = 0.70710678f; // -3 dB
// What the headers of a whole file may ask libvorbis for: the usual encoders' tables come to
// under 1 MB a link, so this is a hundred chained links or more.
constexpr uint64_t kMaxHeaderBytes = 64u << 20;

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

// What the headers of an Ogg Vorbis stream make libvorbis allocate
//
// libvorbis sizes its tables from counts in the headers, and a few header bytes can count a
// great deal: a codebook of eight million entries takes 70 or so bits, a comment of no length
// takes four bytes, and a chained file keeps every link's tables. The headers are read here
// first, bit for bit as libvorbis reads them, and the memory they ask for is added up (the
// decoding tables of every link counted as if every link were played); a stream that asks for
// more than any real encoder's output is refused before libvorbis sees it.

// LSb-first bits of one packet, as libogg's oggpack reads them: -1 once past the end.
class PacketBits {
public:
    PacketBits(const unsigned char* bytes, size_t count) : data(bytes), bits(uint64_t{count} * 8) {}
    // At most 32 bits at a time.
    int64_t read(int count) {
        if (count <= 0) {
            return 0;
        }
        if (position + static_cast<uint64_t>(count) > bits) {
            position = bits;
            ended = true;
            return -1;
        }
        int64_t value = 0;
        for (int got = 0; got < count;) {
            const int shift = static_cast<int>(position & 7);
            const int take = std::min(8 - shift, count - got);
            const int64_t piece = (data[position >> 3] >> shift) & ((1 << take) - 1);
            value |= piece << got;
            got += take;
            position += static_cast<uint64_t>(take);
        }
        return value;
    }
    void skip(uint64_t count) {
        position = count > bits - position ? bits : position + count;
        ended = ended || position == bits;
    }
    uint64_t bytesLeft() const { return (bits - position) / 8; }
    bool past() const { return ended; }

private:
    const unsigned char* data;
    uint64_t bits;
    uint64_t position = 0;
    bool ended = false;
};

int bitLength(uint64_t value) {
    int length = 0;
    for (; value != 0; value >>= 1) {
        ++length;
    }
    return length;
}

// libvorbis's own allocations, rounded up: a heap block's overhead, a link's fixed records
// (its setup record, and per floor, residue and mapping record), and a codebook's decoding
// table for each used entry (codeword, index, length, and a build-time codeword).
constexpr uint64_t kBlock = 32;
constexpr uint64_t kLinkBytes = 16 << 10;
constexpr uint64_t kRecordBytes = 4 << 10;
constexpr uint64_t kFloorLookBytes = 40 << 10;
constexpr uint64_t kBytesPerUsedEntry = 17;
// No encoder's codebook comes near this; libvorbis's decoder setup also keeps 8 bytes per used
// entry on the stack.
constexpr int64_t kMaxBookEntries = 1 << 16;

// The entry count (per dimension) of a lattice codebook: the largest v with v^dim <= entries.
int64_t latticeValues(int64_t entries, int64_t dimensions) {
    if (entries < 1 || dimensions < 1) {
        return 0;
    }
    int64_t values = static_cast<int64_t>(
        std::floor(std::pow(static_cast<double>(entries), 1.0 / static_cast<double>(dimensions))));
    const auto fits = [&](int64_t v) {
        int64_t product = 1;
        for (int64_t d = 0; d < dimensions; ++d) {
            if (product > entries / v) {
                return false;
            }
            product *= v;
        }
        return true;
    };
    values = std::max<int64_t>(values, 1);
    while (values > 1 && !fits(values)) {
        --values;
    }
    while (fits(values + 1)) {
        ++values;
    }
    return values;
}

struct SetupCost {
    uint64_t bytes = 0;
    bool refused = false; // a codebook beyond kMaxBookEntries
};

struct Book {
    int64_t entries = 0;
    int64_t dimensions = 0;
};

// Reads one codebook; false where libvorbis would stop reading the setup (its cost so far is
// counted all the same).
bool readBook(PacketBits& in, SetupCost& cost, std::vector<Book>& books) {
    if (in.read(24) != 0x564342) {
        return false;
    }
    const int64_t dimensions = in.read(16);
    const int64_t entries = in.read(24);
    if (entries < 0 || dimensions < 0 ||
        bitLength(static_cast<uint64_t>(dimensions)) + bitLength(static_cast<uint64_t>(entries)) >
            24) {
        return false;
    }
    if (entries > kMaxBookEntries) {
        cost.refused = true;
        return false;
    }
    const int64_t ordered = in.read(1);
    int64_t used = 0;
    if (ordered == 0) {
        const int64_t sparse = in.read(1);
        if (sparse < 0 ||
            static_cast<uint64_t>((entries * (sparse ? 1 : 5) + 7) >> 3) > in.bytesLeft()) {
            return false;
        }
        cost.bytes += static_cast<uint64_t>(entries) + kBlock;
        for (int64_t i = 0; i < entries; ++i) {
            if (sparse == 0 || in.read(1) == 1) {
                in.read(5);
                ++used;
            }
        }
    } else if (ordered == 1) {
        int64_t length = in.read(5) + 1;
        if (length <= 0) {
            return false;
        }
        cost.bytes += static_cast<uint64_t>(entries) + kBlock;
        for (int64_t i = 0; i < entries; ++length) {
            const int64_t count = in.read(bitLength(static_cast<uint64_t>(entries - i)));
            if (count < 0 || length > 32 || count > entries - i ||
                (count > 0 && ((count - 1) >> (length - 1)) > 1)) {
                return false;
            }
            i += count;
        }
        used = entries;
    } else {
        return false;
    }
    if (in.past()) {
        return false;
    }
    const int64_t mapping = in.read(4);
    int64_t values = 0;
    if (mapping == 1 || mapping == 2) {
        in.read(32);
        in.read(32);
        const int64_t quantBits = in.read(4) + 1;
        if (in.read(1) < 0) {
            return false;
        }
        const int64_t quantValues =
            mapping == 1 ? latticeValues(entries, dimensions) : entries * dimensions;
        if (static_cast<uint64_t>((quantValues * quantBits + 7) >> 3) > in.bytesLeft()) {
            return false;
        }
        cost.bytes += static_cast<uint64_t>(quantValues) * 8 + kBlock;
        in.skip(static_cast<uint64_t>(quantValues * quantBits));
        values = used * dimensions; // the unpacked vectors, one float each
    } else if (mapping != 0) {
        return false;
    }
    cost.bytes += static_cast<uint64_t>(used) * kBytesPerUsedEntry +
                  static_cast<uint64_t>(values) * 4 + 2 * kRecordBytes;
    books.push_back(Book{entries, dimensions});
    return !in.past();
}

bool readFloor(PacketBits& in, SetupCost& cost) {
    const int64_t type = in.read(16);
    cost.bytes += kRecordBytes;
    if (type == 0) {
        in.skip(8 + 16 + 16 + 6 + 8); // order, rate, bark map size, amplitude bits and offset
        const int64_t bookCount = in.read(4) + 1;
        in.skip(static_cast<uint64_t>(bookCount) * 8);
        cost.bytes += kFloorLookBytes;
    } else if (type == 1) {
        const int64_t partitions = in.read(5);
        std::vector<int64_t> partitionClass;
        int64_t classes = 0;
        for (int64_t i = 0; i < partitions; ++i) {
            partitionClass.push_back(in.read(4));
            classes = std::max(classes, partitionClass.back() + 1);
        }
        std::vector<int64_t> classDimensions;
        for (int64_t c = 0; c < classes; ++c) {
            classDimensions.push_back(in.read(3) + 1);
            const int64_t subclasses = in.read(2);
            if (subclasses > 0) {
                in.read(8);
            }
            in.skip(static_cast<uint64_t>(8) << std::max<int64_t>(subclasses, 0));
        }
        in.read(2);
        const int64_t rangeBits = in.read(4);
        for (int64_t i = 0; i < partitions && !in.past(); ++i) {
            const int64_t c = partitionClass[static_cast<size_t>(i)];
            if (c < 0 || c >= classes) {
                return false;
            }
            in.skip(static_cast<uint64_t>(classDimensions[static_cast<size_t>(c)] *
                                          std::max<int64_t>(rangeBits, 0)));
        }
    } else {
        return false;
    }
    return !in.past();
}

bool readResidue(PacketBits& in, SetupCost& cost, const std::vector<Book>& books) {
    const int64_t type = in.read(16);
    if (type < 0 || type > 2) {
        return false;
    }
    in.skip(24 + 24 + 24); // begin, end, partition size
    const int64_t partitions = in.read(6) + 1;
    const int64_t groupBook = in.read(8);
    uint64_t stages = 0;
    for (int64_t j = 0; j < partitions; ++j) {
        int64_t cascade = in.read(3);
        const int64_t high = in.read(1) == 1 ? in.read(5) : 0;
        cascade |= std::max<int64_t>(high, 0) << 3;
        for (; cascade > 0; cascade &= cascade - 1) {
            ++stages;
        }
    }
    in.skip(stages * 8);
    cost.bytes += kRecordBytes + static_cast<uint64_t>(partitions) * (8 + 8 * 8 + kBlock);
    if (in.past() || groupBook < 0 || static_cast<size_t>(groupBook) >= books.size()) {
        return false;
    }
    // One decoding map per partition pattern: partitions^dimensions of them, which libvorbis
    // refuses beyond the group book's entry count.
    const Book& group = books[static_cast<size_t>(groupBook)];
    int64_t patterns = 1;
    for (int64_t d = 0; d < group.dimensions; ++d) {
        patterns *= partitions;
        if (patterns > group.entries) {
            return false;
        }
    }
    cost.bytes += static_cast<uint64_t>(patterns) *
                  (8 + kBlock + static_cast<uint64_t>(group.dimensions) * 4);
    return true;
}

// The cost of one link's setup header, read as far as libvorbis would read it.
void readSetup(const std::vector<unsigned char>& packet, SetupCost& cost) {
    PacketBits in(packet.data(), packet.size());
    in.skip(7 * 8); // packet type and "vorbis"
    std::vector<Book> books;
    const int64_t bookCount = in.read(8) + 1;
    for (int64_t i = 0; i < bookCount; ++i) {
        if (!readBook(in, cost, books)) {
            return;
        }
    }
    const int64_t times = in.read(6) + 1;
    in.skip(static_cast<uint64_t>(times) * 16);
    const int64_t floors = in.read(6) + 1;
    for (int64_t i = 0; i < floors; ++i) {
        if (!readFloor(in, cost)) {
            return;
        }
    }
    const int64_t residues = in.read(6) + 1;
    for (int64_t i = 0; i < residues; ++i) {
        if (!readResidue(in, cost, books)) {
            return;
        }
    }
    // A record per mapping (the modes' records are small, counted with the link's).
    cost.bytes += static_cast<uint64_t>(std::max<int64_t>(in.read(6) + 1, 0)) * kRecordBytes;
}

// The cost of one link's comment header: the vendor string, a pointer and a length per
// comment, and each comment's own block.
uint64_t commentCost(const std::vector<unsigned char>& packet) {
    PacketBits in(packet.data(), packet.size());
    in.skip(7 * 8);
    const int64_t vendor = in.read(32);
    if (vendor < 0 || static_cast<uint64_t>(vendor) > in.bytesLeft()) {
        return 0;
    }
    in.skip(static_cast<uint64_t>(vendor) * 8);
    uint64_t bytes = static_cast<uint64_t>(vendor) + kBlock;
    const int64_t comments = in.read(32);
    if (comments < 0 || static_cast<uint64_t>(comments) > in.bytesLeft() / 4) {
        return bytes;
    }
    bytes += static_cast<uint64_t>(comments + 1) * 12 + 2 * kBlock;
    for (int64_t i = 0; i < comments; ++i) {
        const int64_t length = in.read(32);
        if (length < 0 || static_cast<uint64_t>(length) > in.bytesLeft()) {
            break;
        }
        in.skip(static_cast<uint64_t>(length) * 8);
        bytes += static_cast<uint64_t>(length) + kBlock;
    }
    return bytes;
}

// Ogg pages read straight from the caller's bytes, as libogg finds them: a page starts with
// "OggS" and must match its checksum, else the search goes on from the next byte.
uint32_t oggChecksum(const unsigned char* bytes, size_t count) {
    static const auto table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t value = i << 24;
            for (int bit = 0; bit < 8; ++bit) {
                value = value & 0x80000000u ? (value << 1) ^ 0x04c11db7u : value << 1;
            }
            entries[i] = value;
        }
        return entries;
    }();
    uint32_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        // The checksum field itself (bytes 22 to 25) counts as zeros.
        const uint32_t byte = i >= 22 && i < 26 ? 0 : bytes[i];
        crc = (crc << 8) ^ table[((crc >> 24) ^ byte) & 0xff];
    }
    return crc;
}

struct OggPage {
    const unsigned char* header = nullptr; // 27 bytes, then the segment table
    const unsigned char* body = nullptr;
    uint64_t size = 0; // header, table and body
    int segments() const { return header[26]; }
    bool continued() const { return (header[5] & 1) != 0; }
    bool first() const { return (header[5] & 2) != 0; }
    uint32_t serial() const {
        return uint32_t{header[14]} | uint32_t{header[15]} << 8 | uint32_t{header[16]} << 16 |
               uint32_t{header[17]} << 24;
    }
};

// The next whole page at or after `at`; false when none is left.
bool nextOggPage(const unsigned char* data, uint64_t size, uint64_t& at, OggPage& page) {
    for (; size - at >= 27; ++at) {
        const unsigned char* header = data + at;
        if (std::memcmp(header, "OggS", 4) != 0 || header[4] != 0) {
            continue;
        }
        const uint64_t tableEnd = 27 + uint64_t{header[26]};
        if (size - at < tableEnd) {
            continue;
        }
        uint64_t bodySize = 0;
        for (uint64_t i = 27; i < tableEnd; ++i) {
            bodySize += header[i];
        }
        if (size - at - tableEnd < bodySize) {
            continue;
        }
        const uint32_t stored = uint32_t{header[22]} | uint32_t{header[23]} << 8 |
                                uint32_t{header[24]} << 16 | uint32_t{header[25]} << 24;
        if (oggChecksum(header, static_cast<size_t>(tableEnd + bodySize)) != stored) {
            continue;
        }
        page = OggPage{header, header + tableEnd, tableEnd + bodySize};
        at += page.size;
        return true;
    }
    return false;
}

// One stream's header packets as its pages bring them in.
struct StreamHeaders {
    std::vector<unsigned char> partial; // a packet still running on into the next page
    bool partialValid = false;
    int packets = 0;
};

// The memory the headers of every Vorbis stream in the file ask libvorbis for, and whether a
// codebook is beyond any encoder's. Stops early once past `stopAbove`.
SetupCost headerCost(const unsigned char* data, uint64_t size, uint64_t stopAbove) {
    SetupCost total;
    std::map<uint32_t, StreamHeaders> reading; // streams whose headers are not all read yet
    uint64_t at = 0;
    OggPage page;
    while (!total.refused && total.bytes <= stopAbove && nextOggPage(data, size, at, page)) {
        const uint32_t serial = page.serial();
        if (page.first()) {
            reading[serial] = StreamHeaders{};
            total.bytes += kLinkBytes;
        }
        const auto it = reading.find(serial);
        if (it == reading.end()) {
            continue;
        }
        StreamHeaders& stream = it->second;
        // A page that does not continue the packet in hand drops it, as a gap does in libogg;
        // one that continues a packet whose start was never seen skips that packet's end.
        bool skipping = page.continued() && !stream.partialValid;
        if (!page.continued()) {
            stream.partial.clear();
        }
        const unsigned char* segment = page.body;
        bool done = false;
        for (int i = 0; i < page.segments() && !done; ++i) {
            const unsigned lacing = page.header[27 + i];
            if (!skipping) {
                stream.partial.insert(stream.partial.end(), segment, segment + lacing);
            }
            segment += lacing;
            stream.partialValid = lacing == 255 && !skipping;
            if (lacing == 255) {
                continue;
            }
            if (skipping) {
                skipping = false;
                continue;
            }
            // A whole packet: the stream's first three are its headers.
            const int index = stream.packets++;
            const std::vector<unsigned char>& bytes = stream.partial;
            const bool vorbis = bytes.size() >= 7 && bytes[0] == 2 * index + 1 &&
                                std::memcmp(bytes.data() + 1, "vorbis", 6) == 0;
            if (vorbis && index == 1) {
                total.bytes += commentCost(bytes);
            } else if (vorbis && index == 2) {
                readSetup(bytes, total);
            }
            stream.partial.clear();
            done = !vorbis || index == 2;
        }
        if (done) {
            reading.erase(serial);
        }
    }
    return total;
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

bool AudioDecoder::headersFit(const void* data, uint64_t size) {
    if (data == nullptr) {
        return false;
    }
    const SetupCost headers =
        headerCost(static_cast<const unsigned char*>(data), size, kMaxHeaderBytes);
    return !headers.refused && headers.bytes <= kMaxHeaderBytes;
}

bool AudioDecoder::open(const void* data, uint64_t size) {
    close();
    if (data == nullptr || size == 0 ||
        size > static_cast<uint64_t>(std::numeric_limits<long>::max())) {
        return false;
    }
    if (!headersFit(data, size)) {
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
