// lumenfall-capture: records the show without a window or a sound card. The same Demo the
// players use draws each frame on an offscreen OpenGL ES 2.0 context at music time
// start + k * 1000 / fps; the frames go to ffmpeg (H.264 with the music) or to PNG files.
// Start-up follows the players: archive, context, Demo, music length, build, step check.
//
// Renderer: a hardware GPU when EGL lists one, else Mesa's llvmpipe with this processor's
// code; --portable holds llvmpipe to SSE2 so that every x86-64 processor gives the same bytes.
//
// Speed: the rasteriser (llvmpipe's worker threads, or the GPU) works on a frame while this
// thread draws the next one into a second colour target; a writer thread feeds the encoder, whose faster x264
// preset keeps the quality. --plain turns all of it off; the frames are the same bytes.

#include <cerrno>
#include <chrono>
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
#include "FrameCost.h"
#include "FrameWriter.h"
#include "MusicLength.h"
#include "ProgressMeter.h"
#include "VideoPipe.h"
#include "demo/Demo.h"
#include "demo/WarmUp.h"
#include "loader/Asset.h"
#include "loader/Loader.h"
#include "platform/MessageBox.h"
#include "platform/OffscreenContext.h"
#include "progress/Progress.h"
#include "report/Errors.h"

namespace {

constexpr const char* kProgramName = "lumenfall-capture";
constexpr int kExitInterrupted = 130;

// Rasteriser threads for llvmpipe unless LP_NUM_THREADS says otherwise; more than the
// cores, so that a thread the encoder pre-empts does not hold up the whole frame.
constexpr const char* kRasterThreads = "4";
// Frames in flight between drawing and the encoder's pipe.
constexpr int kWriterBuffers = 3;

volatile std::sig_atomic_t interruptRequested = 0;

void onInterrupt(int) {
    interruptRequested = 1;
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

bool makeFolder(const std::string& dir) {
    std::error_code code;
    std::filesystem::create_directories(dir, code);
    if (code || !std::filesystem::is_directory(dir, code)) {
        reportError("cannot create the folder " + dir + (code ? ": " + code.message() : ""));
        return false;
    }
    return true;
}

// A file under $TMPDIR (or /tmp) holding given bytes, removed when the object goes.
class TempFile {
public:
    TempFile() = default;
    ~TempFile() {
        if (!filePath.empty()) {
            std::remove(filePath.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool write(const uint8_t* data, uint32_t size) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/lumenfall-music-XXXXXX.ogg";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemps(name.data(), 4);
        if (fd < 0) {
            reportError("cannot create a temporary file for the music: " +
                        std::string(strerror(errno)));
            return false;
        }
        filePath = name.data();
        size_t done = 0;
        while (done < size) {
            const ssize_t written = ::write(fd, data + done, size - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                reportError("cannot write the music to " + filePath + ": " + strerror(errno));
                close(fd);
                return false;
            }
            done += static_cast<size_t>(written);
        }
        if (close(fd) != 0) {
            reportError("cannot write the music to " + filePath + ": " + strerror(errno));
            return false;
        }
        return true;
    }
    const std::string& path() const { return filePath; }

private:
    std::string filePath;
};

OffscreenRenderer offscreenRenderer(const CaptureOptions& options) {
    if (options.portable) {
        return OffscreenRenderer::Portable;
    }
    switch (options.renderer) {
    case CaptureRenderer::Gpu:
        return OffscreenRenderer::Gpu;
    case CaptureRenderer::Software:
        return OffscreenRenderer::Software;
    case CaptureRenderer::Auto:
        break;
    }
    return OffscreenRenderer::Auto;
}

// "rendering on llvmpipe (LLVM 15.0.6, 256 bits): software, this processor's code (no GPU: ...)"
std::string rendererLine(const OffscreenContext& context, OffscreenRenderer renderer) {
    std::string line = "rendering on " + context.rendererName() + ": ";
    if (context.onGpu()) {
        return line + "GPU";
    }
    if (renderer == OffscreenRenderer::Portable) {
        return line + "software, portable (SSE2 code, the same bytes on every x86-64 processor)";
    }
    line += "software, this processor's code";
    if (!context.noGpuReason().empty()) {
        line += " (" + context.noGpuReason() + ")";
    }
    return line;
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
            // superfast at CRF 15 keeps at least medium's SSIM and PSNR at CRF 18 on every
            // scene (the third's fine strands are the hardest) in under half the encoder's
            // time; the file is about twice as large
            "-crf", options.plain ? "18" : "15", "-preset", options.plain ? "medium" : "superfast",
            "-c:a", "aac", "-b:a", "192k", "-shortest", output};
}

// Time spent per stage on the drawing thread, for the closing line.
struct StageSeconds {
    double draw = 0.0;
    double readBack = 0.0;
};

double secondsSince(std::chrono::steady_clock::time_point begin) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

int recordRange(const CaptureOptions& options, uint32_t endMs, const Asset& music, Demo& demo,
                OffscreenContext& context) {
    const bool video = options.mode() == CaptureMode::Video;
    if (!video && !makeFolder(options.pngDir)) {
        return failListed();
    }
    // Ctrl-C from here on ends the recording between frames, keeping what was done.
    catchInterrupts();
    TempFile musicCopy;
    VideoPipe encoder;
    FrameWriter writer;
    const size_t rowBytes = static_cast<size_t>(options.width) * 4;
    const size_t rows = static_cast<size_t>(options.height);
    if (video) {
        if (!musicCopy.write(music.data, music.size)) {
            return failListed();
        }
        if (!encoder.start(encoderCommand(options, endMs, musicCopy.path()))) {
            return fail("cannot record " + options.output + ": " + encoder.error());
        }
        writer.start(encoder, rowBytes, rows, options.plain ? 1 : kWriterBuffers, !options.plain);
    }

    const uint64_t frames = frameCount(options.startMs, endMs, options.fps);
    warmUp(demo, options.startMs, options.fps);
    ProgressMeter meter(frameCosts(options.startMs, frames, options.fps, !options.portable),
                        isatty(STDERR_FILENO) != 0);
    StageSeconds stages;
    std::vector<uint8_t> pngFrame(video ? 0 : rowBytes * rows);
    std::string error;
    // Frame k is drawn into target k % targets and read back once frame k + targets - 1 has
    // been drawn, so the rasteriser always has a frame to work on.
    const uint64_t targets = static_cast<uint64_t>(context.targetCount());
    uint64_t drawn = 0;
    uint64_t done = 0;
    while (done < frames && error.empty()) {
        const bool stopping = interruptRequested != 0;
        if (drawn < frames && drawn < done + targets && !stopping) {
            const int target = static_cast<int>(drawn % targets);
            const auto begin = std::chrono::steady_clock::now();
            context.bindTarget(target);
            demo.drawFrame(frameTimeMs(options.startMs, drawn, options.fps));
            context.endFrame(target);
            stages.draw += secondsSince(begin);
            ++drawn;
            if (drawn < done + targets && drawn < frames) {
                continue;
            }
        }
        if (done == drawn) {
            break; // interrupted: every drawn frame is out
        }
        uint8_t* frame = video ? writer.acquire() : pngFrame.data();
        const auto begin = std::chrono::steady_clock::now();
        const bool read = context.readTarget(static_cast<int>(done % targets), frame);
        stages.readBack += secondsSince(begin);
        if (!read) {
            error = "cannot read the rendered frame back";
        } else if (video) {
            if (!writer.submit(frame)) {
                break; // the encoder's exit status tells why
            }
        } else {
            const std::string path = joinPath(options.pngDir, sequenceFrameName(done));
            if (!OffscreenContext::saveBottomUpPng(path, frame, options.width, options.height)) {
                error = "cannot write " + path;
            }
        }
        ++done;
        meter.update(done);
    }
    // A failed write shows in the encoder's exit status below.
    writer.finish();
    meter.finish(done);
    std::fprintf(stderr, "drawing %.1f s, reading back %.1f s, waiting for the encoder %.1f s\n",
                 stages.draw, stages.readBack, writer.waitSeconds());

    // Closing the pipe lets the encoder finish the file, also after an interruption.
    if (video && !encoder.finish() && error.empty() && interruptRequested == 0) {
        error = "cannot record " + options.output + ": " + encoder.error();
    }
    if (!error.empty()) {
        return fail(error);
    }
    const char* written = video ? options.output.c_str() : options.pngDir.c_str();
    if (interruptRequested != 0) {
        std::fprintf(stderr, "%s: interrupted; %s holds the first %llu frames\n", kProgramName,
                     written, static_cast<unsigned long long>(done));
        return kExitInterrupted;
    }
    std::fprintf(stderr, "wrote %s\n", written);
    return 0;
}

int renderSingleFrames(const CaptureOptions& options, Demo& demo, OffscreenContext& context) {
    const std::string dir = options.pngDir.empty() ? "." : options.pngDir;
    if (!makeFolder(dir)) {
        return failListed();
    }
    ProgressMeter meter(std::vector<double>(options.atTimes.size(), 1.0),
                        isatty(STDERR_FILENO) != 0);
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
    const DataFolder data = findDataFolder(options.dataDir);
    if (!data.found) {
        return options.dataDir.empty() ? fail(data.error) : badOption(data.error);
    }
    openDataFolder(data.folder);

    // Two colour targets let drawing run ahead of the rasteriser; they need ES 3.0, and
    // without it the recording goes one frame at a time.
    if (!options.plain && options.mode() != CaptureMode::SingleFrames) {
        setenv("LP_NUM_THREADS", kRasterThreads, 0);
    }
    const OffscreenRenderer renderer = offscreenRenderer(options);
    OffscreenContext context;
    const bool pipelined = !options.plain && options.mode() != CaptureMode::SingleFrames &&
                           context.create(options.width, options.height, 2, renderer);
    if (!pipelined && !context.create(options.width, options.height, 1, renderer)) {
        return fail("cannot create an offscreen OpenGL ES 2.0 context: " + context.error());
    }
    std::fprintf(stderr, "%s\n", rendererLine(context, renderer).c_str());
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
    const OggLength length = oggLengthSeconds(music.data, music.size);
    if (!length.error.empty()) {
        return fail("music.ogg cannot be decoded: " + length.error);
    }
    const int32_t lengthMs = musicLengthMs(length.seconds);

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
    const ParsedOptions parsed = parseCaptureOptions(argc, argv);
    switch (parsed.result) {
    case ParseResult::Help:
        std::fputs(captureHelpText().c_str(), stdout);
        return 0;
    case ParseResult::Version:
        std::fputs(captureVersionText().c_str(), stdout);
        return 0;
    case ParseResult::Error:
        return badOption(parsed.error);
    case ParseResult::Run:
        break;
    }
    setMessageBoxHook(printMessageBox);
    return capture(parsed.options);
}
