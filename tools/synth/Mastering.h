#pragma once
// Final stage of the mix: integrated loudness as broadcast meters measure it (K-weighted,
// gated 400 ms blocks), a look-ahead peak limiter, and bringing a mix to a loudness target.

#include <vector>

#include "Voices.h"

// Integrated loudness in LUFS; -70 or lower means silence.
double integratedLoudness(const StereoBuffer& audio);

// Highest absolute sample, with 4x interpolated peaks between samples included.
double truePeak(const StereoBuffer& audio);

// Limits peaks (inter-sample ones included) to ceiling (linear) with look-ahead gain
// reduction; never raises the level.
void limitPeaks(StereoBuffer& audio, double ceiling);

// The same with the interpolated peaks of the unscaled audio given, times scale.
void limitPeaks(StereoBuffer& audio, double ceiling, const std::vector<double>& unscaledPeaks,
                double scale);

// Scales and limits audio so it measures targetLufs with peaks at most ceilingDb dBFS.
// Returns the gain applied before limiting (dB).
double master(StereoBuffer& audio, double targetLufs, double ceilingDb);
