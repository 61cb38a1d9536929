// lumenfall-capture: records the show without a window or a sound card. The same Demo the
// players use draws each frame on an offscreen OpenGL ES 2.0 context at music time
// start + k * 1000 / fps; the frames go to ffmpeg (H.264 with the music) or to PNG files.
// Start-up follows the players: archive, context, Demo, music length, build, step check.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "CaptureOptions.h"
#include "DataSource.h"
#include "MusicLength.h"
#include "ProgressMeter.h"
#include "VideoPipe.h"
#include "demo/Demo.h"
#include "loader/Asset.h"
#include "loader/Loader.h"
#include "parts/Part.h"
#include "platform/MessageBox.h"
#include "platform/OffscreenContext.h"
#include "progress/Progress.h"
#include "report/Errors.h"
#include "sync/SyncTracks.h"

namespace {

constexpr const char* kProgramName = "lumenfall-capture";
constexpr int kExitInterrupted = 130;

volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int) {
    g_interrupted = 1;
}

// Ctrl-C ends the recording between frames, so the video written so far is closed properly.
void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Every message box becomes one "caption: text" line on stderr; no dialog is ever opened.
void printMessageBox(const std::string& caption, const std::string& text, MessageIcon) {
    std::string body = text;
    while (!body.empty() && body.back() == '\n') {
        body.pop_back();
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), body.c_str());
    std::fflush(stderr);
}

// A failure whose cause is already in the error list: show the list, as the players do.
int failListed() {
    showFatal(errorListText());
    return 1;
}

int fail(const std::string& message) {
    reportError(message);
    return failListed();
}

int badOption(const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgramName, message.c_str(), kProgramName);
    return 2;
}

std::string secondsText(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u", ms / 1000, ms % 1000);
    return text;
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir == ".") {
        return name;
    }
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool makeFolder(const std::string& dir, std::string& error) {
    std::error_code code;
    std::filesystem::create_directories(dir, code);
    if (code || !std::filesystem::is_directory(dir, code)) {
        error = "cannot create the folder " + dir + (code ? ": " + code.message() : "");
        return false;
    }
    return true;
}

// A file under $TMPDIR (or /tmp) holding given bytes, removed when the object goes.
class TempFile {
public:
    TempFile() = default;
    ~TempFile() {
        if (!path_.empty()) {
            std::remove(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool write(const uint8_t* data, uint32_t size, std::string& error) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/lumenfall-music-XXXXXX.ogg";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemps(name.data(), 4);
        if (fd < 0) {
            error = "cannot create a temporary file for the music: " + std::string(strerror(errno));
            return false;
        }
        path_ = name.data();
        size_t done = 0;
        while (done < size) {
            const ssize_t written = ::write(fd, data + done, size - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                error = "cannot write the music to " + path_ + ": " + strerror(errno);
                close(fd);
                return false;
            }
            done += static_cast<size_t>(written);
        }
        if (close(fd) != 0) {
            error = "cannot write the music to " + path_ + ": " + strerror(errno);
            return false;
        }
        return true;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Draws, and throws away, the frames a full run would have drawn in t's scene before t that
// decide what the scene carries over (its camera shot), so that t looks as in a full run.
void warmUp(Demo& demo, uint32_t t, int fps) {
    // A channel with no note yet keeps its last value; a run from the start has 0 there.
    demo.sync.channelNotes.fill(0);
    const Part* scene = demo.timeline.sceneAt(t);
    if (scene == nullptr) {
        return;
    }
    const auto sameScene = [&demo, scene](uint32_t x) { return demo.timeline.sceneAt(x) == scene; };
    for (uint32_t time : warmUpTimes(t, fps, scene->startMs, sameScene, SyncTracks::patternAt)) {
        demo.drawFrame(time);
    }
}

std::vector<std::string> encoderCommand(const CaptureOptions& options, uint32_t endMs,
                                        const std::string& musicPath) {
    const std::string size = std::to_string(options.width) + "x" + std::to_string(options.height);
    // A file name starting with '-' would read as an option.
    const std::string output = options.output[0] == '-' ? "./" + options.output : options.output;
    return {"ffmpeg", "-nostdin", "-hide_banner", "-y", "-loglevel", "error",
            // the frames, top row first
            "-f", "rawvideo", "-pix_fmt", "rgba", "-s", size, "-framerate",
            std::to_string(options.fps), "-i", "-",
            // the music from the same start
            "-ss", secondsText(options.startMs), "-t", secondsText(endMs - options.startMs), "-i",
            musicPath, "-map", "0:v", "-map", "1:a", "-c:v", "libx264", "-pix_fmt", "yuv420p",
            "-crf", "18", "-preset", "medium", "-c:a", "aac", "-b:a", "192k", "-shortest", output};
}

int recordRange(const CaptureOptions& options, uint32_t endMs, const Asset& music, Demo& demo,
                OffscreenContext& context) {
    const bool video = options.mode() == CaptureMode::Video;
    std::string error;
    if (!video && !makeFolder(options.pngDir, error)) {
        return fail(error);
    }
    // Ctrl-C from here on ends the recording between frames, keeping what was done.
    catchInterrupts();
    TempFile musicCopy;
    VideoPipe encoder;
    if (video) {
        if (!musicCopy.write(music.data, music.size, error)) {
            return fail(error);
        }
        if (!encoder.start(encoderCommand(options, endMs, musicCopy.path()))) {
            return fail("cannot record " + options.output + ": " + encoder.error());
        }
    }

    const uint64_t frames = frameCount(options.startMs, endMs, options.fps);
    warmUp(demo, options.startMs, options.fps);
    ProgressMeter meter(frames, isatty(STDERR_FILENO) != 0);
    std::vector<uint8_t> rgba;
    uint64_t frame = 0;
    for (; frame < frames && g_interrupted == 0 && error.empty(); ++frame) {
        demo.drawFrame(frameTimeMs(options.startMs, frame, options.fps));
        if (video) {
            context.readPixels(rgba);
            if (rgba.empty()) {
                error = "cannot read the rendered frame back";
            } else if (!encoder.write(rgba.data(), rgba.size())) {
                break; // the encoder's exit status tells why
            }
        } else {
            const std::string path = joinPath(options.pngDir, sequenceFrameName(frame));
            if (!context.savePng(path)) {
                error = "cannot write " + path;
            }
        }
        meter.update(frame + 1);
    }
    meter.finish(frame);

    // Closing the pipe lets the encoder finish the file, also after an interruption.
    if (video && !encoder.finish() && error.empty() && g_interrupted == 0) {
        error = "cannot record " + options.output + ": " + encoder.error();
    }
    if (!error.empty()) {
        return fail(error);
    }
    const char* written = video ? options.output.c_str() : options.pngDir.c_str();
    if (g_interrupted != 0) {
        std::fprintf(stderr, "%s: interrupted; %s holds the first %llu frames\n", kProgramName,
                     written, static_cast<unsigned long long>(frame));
        return kExitInterrupted;
    }
    std::fprintf(stderr, "wrote %s\n", written);
    return 0;
}

int renderSingleFrames(const CaptureOptions& options, Demo& demo, OffscreenContext& context) {
    std::string error;
    const std::string dir = options.pngDir.empty() ? "." : options.pngDir;
    if (!makeFolder(dir, error)) {
        return fail(error);
    }
    ProgressMeter meter(options.atTimes.size(), isatty(STDERR_FILENO) != 0);
    uint64_t done = 0;
    for (uint32_t t : options.atTimes) {
        warmUp(demo, t, options.fps);
        demo.drawFrame(t);
        const std::string path = joinPath(dir, singleFrameName(t));
        if (!context.savePng(path)) {
            return fail("cannot write " + path);
        }
        std::printf("%s\n", path.c_str());
        meter.update(++done);
    }
    meter.finish(done);
    return 0;
}

int capture(const CaptureOptions& options) {
    // Content: the archive, or the assets folder when there is none (see DataSource.h).
    std::string folder;
    std::string notFound;
    if (!findDataFolder(options.dataDir, folder, notFound)) {
        return options.dataDir.empty() ? fail(notFound) : badOption(notFound);
    }
    openDataFolder(folder);

    OffscreenContext context;
    if (!context.create(options.width, options.height)) {
        return fail("cannot create an offscreen OpenGL ES 2.0 context: " + context.error());
    }
    progressResetForCounting();
    Demo demo;
    demo.setScreenSize(options.width, options.height);

    // The music gives the show its length; loading it takes no progress steps.
    Asset music;
    progressSetActive(false);
    const bool musicLoaded = music.Load("music.ogg");
    progressSetActive(true);
    if (!musicLoaded) {
        return failListed();
    }
    double seconds = 0.0;
    std::string error;
    if (!oggLengthSeconds(music.data, music.size, seconds, error)) {
        return fail("music.ogg cannot be decoded: " + error);
    }
    const int32_t lengthMs = musicLengthMs(seconds);

    // A range must lie within the music.
    uint32_t endMs = options.hasEnd ? options.endMs : static_cast<uint32_t>(lengthMs);
    if (options.mode() != CaptureMode::SingleFrames) {
        if (options.hasEnd && options.endMs > static_cast<uint32_t>(lengthMs)) {
            return badOption("--end " + secondsText(options.endMs) +
                             " is past the end of the music (" + secondsText(lengthMs) + " s)");
        }
        if (options.startMs >= endMs) {
            return badOption("--start " + secondsText(options.startMs) +
                             " is not before the end (" + secondsText(endMs) + " s)");
        }
    }

    if (!demo.build(lengthMs)) {
        return failListed();
    }
    const std::string stepCheck = progressCheck();
    if (!stepCheck.empty()) {
        std::fprintf(stderr, "Warning: %s\n", stepCheck.c_str());
    }
    progressSetActive(false);

    if (options.mode() == CaptureMode::SingleFrames) {
        return renderSingleFrames(options, demo, context);
    }
    return recordRange(options, endMs, music, demo, context);
}

} // namespace

int main(int argc, char** argv) {
    CaptureOptions options;
    std::string error;
    switch (parseCaptureOptions(argc, argv, options, error)) {
    case ParseResult::Help:
        std::fputs(captureHelpText().c_str(), stdout);
        return 0;
    case ParseResult::Version:
        std::fputs(captureVersionText().c_str(), stdout);
        return 0;
    case ParseResult::Error:
        return badOption(error);
    case ParseResult::Run:
        break;
    }
    setMessageBoxHook(printMessageBox);
    return capture(options);
}
