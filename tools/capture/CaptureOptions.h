#pragma once
// The capture program's command line and its clock: which frames to render and at what
// music time each one is. Pure logic, no GL, so it is tested on its own.

#include <cstdint>
#include <string>
#include <vector>

#include "demo/WarmUp.h"

constexpr int kCaptureMaxFps = 240;
constexpr int kCaptureMaxSide = 8192;

enum class CaptureMode { Video, PngSequence, SingleFrames };

// --renderer: a hardware GPU when there is one (Auto), only a GPU, or only the processor.
enum class CaptureRenderer { Auto, Gpu, Software };

struct CaptureOptions {
    int width = 1280;
    int height = 720;
    int fps = kRecordingFps;
    uint32_t startMs = 0;
    bool hasEnd = false;
    uint32_t endMs = 0; // exclusive; the music's length when hasEnd is false
    std::string output = "lumenfall.mp4";
    std::string pngDir;            // empty: no PNG folder given
    std::vector<uint32_t> atTimes; // sorted, without repeats
    bool plain = false;            // no speed-ups: one frame at a time, the slower encoder preset
    // --portable: the software rasteriser held to SSE2, the same bytes on every x86-64
    // processor; otherwise a GPU or this processor's own rasteriser code, as renderer says.
    bool portable = false;
    CaptureRenderer renderer = CaptureRenderer::Auto;
    std::string dataDir;           // --data: where the show's content is; empty: look for it

    CaptureMode mode() const;
};

enum class ParseResult { Run, Help, Version, Error };

struct ParsedOptions {
    ParseResult result = ParseResult::Run;
    CaptureOptions options;
    std::string error; // on Error: a one-line message, without the program name
};

ParsedOptions parseCaptureOptions(int argc, const char* const* argv);
std::string captureHelpText();
// "lumenfall-capture 1.0.0": the version the build was made for.
std::string captureVersionText();

// Music time of frame k of a run starting at startMs: startMs + k * 1000 / fps, truncated.
uint32_t frameTimeMs(uint32_t startMs, uint64_t frame, int fps);
// Frames whose time lies in [startMs, endMs).
uint64_t frameCount(uint32_t startMs, uint32_t endMs, int fps);

// File names: frame_000042.png for a sequence, at_106906.png for a single time.
std::string sequenceFrameName(uint64_t frame);
std::string singleFrameName(uint32_t timeMs);
