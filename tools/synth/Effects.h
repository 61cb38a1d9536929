#pragma once
// The two send effects: a feedback-delay-network reverb and a tempo-synced ping-pong delay.
// Both process a whole stereo buffer in place, from silence, so results never depend on
// what was rendered before.

#include "Voices.h"

struct ReverbSettings {
    double decaySeconds = 2.8; // time for the tail to fall by 60 dB
    double damping = 5500.0;   // low-pass in the feedback path (Hz)
    double preDelay = 0.02;    // seconds
    double lowCut = 220.0;     // high-pass on the input (Hz)
};

// Replaces the buffer (the send bus) with the reverb's wet output.
void applyReverb(StereoBuffer& bus, const ReverbSettings& settings);

struct DelaySettings {
    double seconds = 0.409; // echo spacing
    double feedback = 0.42;
    double lowCut = 300.0;
    double highCut = 4500.0;
};

// Replaces the buffer (the send bus) with ping-pong echoes: left first, then right.
void applyPingPongDelay(StereoBuffer& bus, const DelaySettings& settings);
