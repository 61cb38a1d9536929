// The sync files on arbitrary bytes: "music.msd" and up to 27 level tracks (one more than
// there is room for) written into "./assets/", loaded, then updated at the edge times of the
// pattern arithmetic and at times taken from the input.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "loader/Loader.h"
#include "sync/SyncTracks.h"

namespace {

void writePiece(fuzz::Pieces& pieces, const std::string& name) {
    bool absent = false;
    const std::string bytes = pieces.next(absent);
    const std::string path = "assets/" + name;
    if (absent) {
        fuzz::removeFile(path);
        return;
    }
    fuzz::writeFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void check(const SyncTracks& sync) {
    if (sync.pattern < 0) {
        std::abort();
    }
    for (float level : sync.trackLevels) {
        if (!(level >= 0.0f && level < 1.0f)) {
            std::abort();
        }
    }
    for (int32_t note : sync.channelNotes) {
        if (note < 0 || note > 255) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::beginInput();
    Loader::Close();  // folder mode

    fuzz::Pieces pieces(data, size);
    const int trackCount = pieces.nextByte() % (kSyncMaxTracks + 2);
    uint32_t times[4];
    for (uint32_t& t : times) {
        t = pieces.nextU32();
    }
    writePiece(pieces, "music.msd");
    SyncTracks sync;
    for (int track = 0; track < trackCount; ++track) {
        char name[16];
        std::snprintf(name, sizeof name, "%02d.rms", track + 1);
        writePiece(pieces, name);
        sync.trackFiles.push_back(name);
    }

    if (sync.load("music.msd")) {
        static const uint32_t kEdges[] = {0,      1,      9,      10,         8726,      8727,
                                          104724, 106900, 106901, 215999,     216000,    0x7fffffffu,
                                          0xfffffff0u,    0xffffffffu};
        for (uint32_t t : kEdges) {
            sync.update(t);
            check(sync);
        }
        for (uint32_t t : times) {
            sync.update(t);
            check(sync);
        }
    }
    return 0;
}
