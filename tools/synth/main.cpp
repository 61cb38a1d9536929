// lumenfall-synth: renders the score to music.ogg, the sync events (music.msd) and the five
// level tracks (01.rms .. 05.rms), and optionally a spectrogram picture of the mix.
//
//   lumenfall-synth --score score.txt --out <dir> [--spectrogram out.png] [--wav out.wav]
//                   [--patterns N] [--quiet]

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../Failure.h"
#include "OutputFiles.h"
#include "Renderer.h"
#include "ScoreParser.h"
#include "Sequence.h"

extern char** environ;

namespace {

struct Options {
    std::string score;
    std::string out;
    std::string spectrogram;
    std::string wav;
    int patterns = 0;
    bool quiet = false;
};

// Reports a command-line fault with the usage text; false.
bool usageError(const std::string& message) {
    reportFailure(message);
    std::fprintf(stderr,
                 "usage: lumenfall-synth --score <score.txt> --out <dir> [--spectrogram <png>]\n"
                 "                       [--wav <wav>] [--patterns <count>] [--quiet]\n");
    return false;
}

bool parseArgs(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (i + 1 >= argc) {
            return usageError("missing value after " + arg);
        }
        std::string value = argv[++i];
        if (arg == "--score") {
            options.score = value;
        } else if (arg == "--out") {
            options.out = value;
        } else if (arg == "--spectrogram") {
            options.spectrogram = value;
        } else if (arg == "--wav") {
            options.wav = value;
        } else if (arg == "--patterns") {
            char* end = nullptr;
            const long count = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || count < 1 || count > 999) {
                return usageError("--patterns needs a count of 1..999");
            }
            options.patterns = static_cast<int>(count);
        } else {
            return usageError("unknown option " + arg);
        }
    }
    if (options.score.empty() || options.out.empty()) {
        return usageError("--score and --out are required");
    }
    return true;
}

// Runs `sox <wav> -n spectrogram -o <png>` without a shell; true when sox exits with 0.
bool drawSpectrogram(const std::string& wav, const std::string& png) {
    std::string title = "lumenfall";
    const char* args[] = {"sox", wav.c_str(),   "-n", "spectrogram", "-x",   "1800", "-y", "513",
                          "-t",  title.c_str(), "-o", png.c_str(),   nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "sox", nullptr, nullptr, const_cast<char* const*>(args), environ) != 0) {
        reportFailure("cannot start sox");
        return false;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        reportFailure("sox could not draw " + png);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArgs(argc, argv, options)) {
        return 2;
    }
    auto started = std::chrono::steady_clock::now();

    Score score;
    if (!loadScore(options.score, score)) {
        return 1;
    }
    Sequence seq = buildSequence(score, options.patterns);
    Render render = renderSong(score, seq);

    mkdir(options.out.c_str(), 0755);
    const std::string dir = options.out + "/";
    bool ok = writeOgg(dir + "music.ogg", render.mix) && writeEvents(dir + "music.msd", seq.events);
    for (int k = 0; ok && k < kLevelTracks; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "%02d.rms", k + 1);
        ok = writeLevelTrack(dir + name, render.levels[k]);
    }
    if (ok && !options.wav.empty()) {
        ok = writeWav(options.wav, render.mix);
    }
    if (ok && !options.spectrogram.empty()) {
        char temp[] = "/tmp/lumenfall-synth-XXXXXX.wav";
        int fd = mkstemps(temp, 4);
        if (fd < 0) {
            reportFailure("cannot create a temporary file");
            ok = false;
        } else {
            close(fd);
            ok = writeWav(temp, render.mix) && drawSpectrogram(temp, options.spectrogram);
            unlink(temp);
        }
    }
    if (!ok) {
        return 1;
    }
    if (!options.quiet) {
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("lumenfall-synth: %.3f s of music, %zu notes, %zu events, %.2f LUFS, "
                    "peak %.2f dBFS, gain %+.2f dB, %.1f s to render\n",
                    seq.lengthSeconds, seq.notes.size(), seq.events.size(), render.loudness,
                    20.0 * std::log10(std::max(render.peak, 1e-9)), render.gainDb, seconds);
    }
    return 0;
}
