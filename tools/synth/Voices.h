#pragma once
// Sound of one note: drums (kick, snare, clap, hat), a subtractive synth voice and a
// filtered-noise voice. Each note is rendered on its own and added into its instrument's
// stereo buffer; the instrument's gain, pan and effect sends are applied by the Renderer.

#include <cstdint>
#include <vector>

#include "Score.h"
#include "Sequence.h"

struct StereoBuffer {
    std::vector<float> left;
    std::vector<float> right;

    size_t frames() const { return left.size(); }
    void resize(size_t frames) {
        left.assign(frames, 0.0f);
        right.assign(frames, 0.0f);
    }
    void clear() {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
    }
};

// Adds the note into out, starting at the note's start time. noteSeed picks the noise and
// the oscillator phases, so equal seeds give equal samples.
void renderNote(const Instrument& inst, const Note& note, const Sequence& seq, uint32_t noteSeed,
                StereoBuffer& out);

// How long after its start a note still sounds, release included (seconds).
double noteTailSeconds(const Instrument& inst, const Note& note);
