#pragma once
// Renders a laid-out score to the finished stereo mix and the five sync level tracks.
// Instruments are rendered one at a time into their level group's stem, so a level track
// is the RMS of exactly the instruments that name it, after gain, ducking and the fade.

#include <cstdint>
#include <vector>

#include "Score.h"
#include "Sequence.h"
#include "Voices.h"

constexpr int kLevelTracks = 5;
constexpr double kLevelStepSeconds = 0.01;    // one level sample every 10 ms
constexpr double kLevelWindowSeconds = 0.025; // RMS window, centred on the sample time
constexpr double kLevelPeak = 0.9;            // the loudest window of each track maps here

struct Render {
    StereoBuffer mix;
    std::vector<std::vector<uint16_t>> levels; // kLevelTracks tracks
    double gainDb = 0.0;                       // mastering gain before the limiter
    double loudness = 0.0;                     // LUFS of the finished mix
    double peak = 0.0;                         // interpolated peak of the finished mix
};

struct RenderOptions {
    double targetLufs = -14.0;
    double ceilingDb = -2.5; // Vorbis adds up to about 0.7 dB to the peaks
};

Render renderSong(const Score& score, const Sequence& seq, const RenderOptions& options = {});

// RMS level track of a stem: one value per step, scaled to 0..1 by the caller's peak.
std::vector<double> rmsTrack(const StereoBuffer& stem, size_t samples);
