#include "CaptureOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char digit) { return digit >= '0' && digit <= '9'; });
}

// A whole number in [low, high]; digits only, so no sign, spaces or hex slip through.
bool parseWhole(const std::string& text, uint64_t low, uint64_t high, uint64_t& value) {
    if (!allDigits(text) || text.size() > 12) {
        return false;
    }
    value = 0;
    for (char digit : text) {
        value = value * 10 + static_cast<uint64_t>(digit - '0');
    }
    return value >= low && value <= high;
}

// Seconds as "12", "12.5" or ".25", rounded to whole milliseconds. Decimal digits are read
// exactly so that "0.1" is 100 ms on every machine.
bool parseSeconds(const std::string& text, uint32_t& ms) {
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if ((whole.empty() && fraction.empty()) || (!whole.empty() && !allDigits(whole)) ||
        (!fraction.empty() && !allDigits(fraction)) || whole.size() > 9) {
        return false;
    }
    uint64_t value = 0;
    for (char digit : whole) {
        value = value * 10 + static_cast<uint64_t>(digit - '0');
    }
    value *= 1000;
    uint64_t scale = 100;
    for (size_t i = 0; i < fraction.size() && i < 3; ++i, scale /= 10) {
        value += static_cast<uint64_t>(fraction[i] - '0') * scale;
    }
    if (fraction.size() > 3 && fraction[3] >= '5') {
        ++value;
    }
    if (value > UINT32_MAX) {
        return false;
    }
    ms = static_cast<uint32_t>(value);
    return true;
}

bool parseSize(const std::string& text, int& width, int& height) {
    const size_t cross = text.find('x');
    if (cross == std::string::npos) {
        return false;
    }
    uint64_t wide = 0;
    uint64_t high = 0;
    if (!parseWhole(text.substr(0, cross), 1, kCaptureMaxSide, wide) ||
        !parseWhole(text.substr(cross + 1), 1, kCaptureMaxSide, high)) {
        return false;
    }
    width = static_cast<int>(wide);
    height = static_cast<int>(high);
    return true;
}

ParsedOptions& failed(ParsedOptions& parsed) {
    parsed.result = ParseResult::Error;
    return parsed;
}

} // namespace

CaptureMode CaptureOptions::mode() const {
    if (!atTimes.empty()) {
        return CaptureMode::SingleFrames;
    }
    return pngDir.empty() ? CaptureMode::Video : CaptureMode::PngSequence;
}

ParsedOptions parseCaptureOptions(int argc, const char* const* argv) {
    ParsedOptions parsed;
    CaptureOptions& options = parsed.options;
    std::string& error = parsed.error;
    bool hasStart = false;
    bool hasOutput = false;
    bool hasNative = false;
    bool hasRenderer = false;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            parsed.result = ParseResult::Help;
            return parsed;
        }
        if (name == "--version") {
            parsed.result = ParseResult::Version;
            return parsed;
        }
        if (name == "--plain") {
            options.plain = true;
            continue;
        }
        if (name == "--portable") {
            options.portable = true;
            continue;
        }
        if (name == "--native") {
            hasNative = true; // the default since --portable exists; kept for old command lines
            continue;
        }
        if (name.compare(0, 2, "--") != 0) {
            error = "unexpected argument '" + name + "'";
            return failed(parsed);
        }

        // The value: "--name=value" or the next argument.
        std::string value;
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.erase(equals);
        } else if (name == "--size" || name == "--fps" || name == "--start" || name == "--end" ||
                   name == "--output" || name == "--png" || name == "--at" ||
                   name == "--data" || name == "--renderer") {
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return failed(parsed);
            }
            value = argv[++i];
        } else {
            error = "unknown option '" + name + "'";
            return failed(parsed);
        }

        uint64_t whole = 0;
        if (name == "--size") {
            if (!parseSize(value, options.width, options.height)) {
                error = "--size: expected WIDTHxHEIGHT, each 1 to " +
                        std::to_string(kCaptureMaxSide) + ", got '" + value + "'";
                return failed(parsed);
            }
        } else if (name == "--fps") {
            if (!parseWhole(value, 1, kCaptureMaxFps, whole)) {
                error = "--fps: expected a whole number from 1 to " +
                        std::to_string(kCaptureMaxFps) + ", got '" + value + "'";
                return failed(parsed);
            }
            options.fps = static_cast<int>(whole);
        } else if (name == "--start" || name == "--end") {
            uint32_t ms = 0;
            if (!parseSeconds(value, ms)) {
                error = name + ": expected seconds such as 12 or 12.5, got '" + value + "'";
                return failed(parsed);
            }
            if (name == "--start") {
                options.startMs = ms;
                hasStart = true;
            } else {
                options.endMs = ms;
                options.hasEnd = true;
            }
        } else if (name == "--output") {
            if (value.empty()) {
                error = "--output: the file name is empty";
                return failed(parsed);
            }
            options.output = value;
            hasOutput = true;
        } else if (name == "--png") {
            if (value.empty()) {
                error = "--png: the folder name is empty";
                return failed(parsed);
            }
            options.pngDir = value;
        } else if (name == "--at") {
            if (!parseWhole(value, 0, UINT32_MAX, whole)) {
                error = "--at: expected a music time in whole milliseconds, got '" + value + "'";
                return failed(parsed);
            }
            options.atTimes.push_back(static_cast<uint32_t>(whole));
        } else if (name == "--data") {
            if (value.empty()) {
                error = "--data: the folder name is empty";
                return failed(parsed);
            }
            options.dataDir = value;
        } else if (name == "--renderer") {
            if (value == "auto") {
                options.renderer = CaptureRenderer::Auto;
            } else if (value == "gpu") {
                options.renderer = CaptureRenderer::Gpu;
            } else if (value == "software") {
                options.renderer = CaptureRenderer::Software;
            } else {
                error = "--renderer: expected auto, gpu or software, got '" + value + "'";
                return failed(parsed);
            }
            hasRenderer = true;
        } else {
            error = "unknown option '" + name + "'";
            return failed(parsed);
        }
    }

    // Combinations
    if (options.portable && hasNative) {
        error = "--portable and --native cannot be combined";
        return failed(parsed);
    }
    if (options.portable && hasRenderer && options.renderer != CaptureRenderer::Software) {
        error = "--portable renders in software and cannot be combined with --renderer " +
                std::string(options.renderer == CaptureRenderer::Gpu ? "gpu" : "auto");
        return failed(parsed);
    }
    if (options.portable) {
        options.renderer = CaptureRenderer::Software;
    }
    if (!options.atTimes.empty() && (hasStart || options.hasEnd || hasOutput)) {
        error = "--at renders single frames and cannot be combined with --start, --end or --output";
        return failed(parsed);
    }
    if (!options.pngDir.empty() && hasOutput) {
        error = "--png and --output cannot be combined";
        return failed(parsed);
    }
    if (options.hasEnd && options.endMs <= options.startMs) {
        error = "--end must be later than --start";
        return failed(parsed);
    }
    // H.264 in 4:2:0 needs even sides.
    if (options.mode() == CaptureMode::Video &&
        (options.width % 2 != 0 || options.height % 2 != 0)) {
        error = "--size: a video needs an even width and height, got " +
                std::to_string(options.width) + "x" + std::to_string(options.height);
        return failed(parsed);
    }
    std::sort(options.atTimes.begin(), options.atTimes.end());
    options.atTimes.erase(std::unique(options.atTimes.begin(), options.atTimes.end()),
                          options.atTimes.end());
    return parsed;
}

std::string captureHelpText() {
    return "Usage: lumenfall-capture [OPTIONS]\n"
           "Renders the show offline, frame by frame at a fixed rate, with no window and no\n"
           "sound card, and records it as a video with the music or as PNG pictures.\n"
           "The show comes from the --data folder, else from the current folder when it\n"
           "holds demo.dat or assets/, else from the installed demo.dat.\n"
           "\n"
           "  --size WxH     picture size in pixels (default 1280x720; even for a video)\n"
           "  --fps N        frames per second, 1 to 240 (default 30)\n"
           "  --start S      first second to record (default 0; decimals allowed)\n"
           "  --end S        second to stop at, not included (default the end of the music)\n"
           "  --output FILE  the video: H.264 and AAC, container from the name\n"
           "                 (default lumenfall.mp4); needs ffmpeg on the PATH\n"
           "  --png DIR      write DIR/frame_000000.png, frame_000001.png, ... instead of a\n"
           "                 video; frame k shows music time START + k * 1000 / fps ms\n"
           "  --at MS        render the single frame at music time MS (whole milliseconds)\n"
           "                 to at_MS.png, MS written with at least six digits\n"
           "                 (at_106906.png), in DIR when --png DIR is given, else in the\n"
           "                 current folder. Repeatable. The picture is the one a full\n"
           "                 recording at the same --fps shows at that time.\n"
           "  --plain        record without the speed-ups (one frame at a time, no writer\n"
           "                 thread, the encoder's slower preset): the same frames, slower\n"
           "  --renderer R   where the pictures are drawn: auto (the default: a GPU when\n"
           "                 there is one, else the processor), gpu, or software\n"
           "  --portable     draw on the processor with only the instructions every\n"
           "                 x86-64 processor has: slower, and the same bytes on all of\n"
           "                 them (what the tests and reference pictures use)\n"
           "  --native       the default; accepted for older command lines\n"
           "  --data DIR     read the show from DIR (its demo.dat, else its assets/ folder)\n"
           "  --version      print the version\n"
           "  --help         show this text\n"
           "\n"
           "The same options give the same pictures, byte for byte, on the same machine.\n"
           "Another machine's pictures may differ slightly (another GPU, or a processor\n"
           "with other instructions); with --portable they are the same bytes on every\n"
           "x86-64 processor. The first line printed says which renderer draws.\n"
           "Exit status: 0 done, 1 loading, rendering or encoding failed, 2 bad options.\n";
}

std::string captureVersionText() {
    return std::string("lumenfall-capture ") + LUMENFALL_VERSION + "\n";
}

uint32_t frameTimeMs(uint32_t startMs, uint64_t frame, int fps) {
    return static_cast<uint32_t>(startMs + frame * 1000 / static_cast<uint64_t>(fps));
}

uint64_t frameCount(uint32_t startMs, uint32_t endMs, int fps) {
    if (endMs <= startMs) {
        return 0;
    }
    // k * 1000 / fps truncated stays below the span exactly when k < span * fps / 1000.
    const uint64_t span = endMs - startMs;
    return (span * static_cast<uint64_t>(fps) + 999) / 1000;
}

std::string sequenceFrameName(uint64_t frame) {
    char name[48];
    std::snprintf(name, sizeof name, "frame_%06llu.png", static_cast<unsigned long long>(frame));
    return name;
}

std::string singleFrameName(uint32_t timeMs) {
    char name[32];
    std::snprintf(name, sizeof name, "at_%06u.png", timeMs);
    return name;
}
