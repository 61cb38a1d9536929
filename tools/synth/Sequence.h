#pragma once
// The score laid out in time: every note with its start, length, pitch and velocity, the
// note-on events for the sync file, and each instrument's gain and filter ramps.
// Times are seconds from the start of the music.

#include <cstdint>
#include <vector>

#include "Score.h"

struct Note {
    int instrument = 0;
    double start = 0.0;     // seconds
    double duration = 0.0;  // seconds until the key is released
    int pitch = 60;         // MIDI note
    int previousPitch = -1; // the note this one glides from (mono instruments), -1 for none
    float velocity = 0.8f;
};

struct NoteEvent {
    uint32_t tick = 0;
    uint8_t channel = 0;
    uint8_t value = 0;
};

// A stretch of time in which an instrument's gain and filter offset ramp linearly.
struct AutomationSegment {
    double start = 0.0, end = 0.0;
    double gainFrom = 1.0, gainTo = 1.0;
    double cutoffFrom = 0.0, cutoffTo = 0.0;
};

struct Sequence {
    double lengthSeconds = 0.0;
    std::vector<double> patternStarts; // seconds; one past the last gives the end of the patterns
    std::vector<Note> notes;           // sorted by start time
    std::vector<NoteEvent> events;     // sorted by tick, then channel
    std::vector<std::vector<AutomationSegment>> automation; // per instrument, in time order

    // Gain and filter offset of an instrument at time t; after a placement ends they keep the
    // values it ended with, so release tails ring on unchanged.
    double gainAt(int instrument, double t) const;
    double cutoffAt(int instrument, double t) const;
};

// Lays out the score. With patternLimit > 0 only the first patternLimit patterns are laid
// out and the music ends where the next one would start.
Sequence buildSequence(const Score& score, int patternLimit = 0);
