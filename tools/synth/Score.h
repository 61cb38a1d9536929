#pragma once
// The song as written in a score file: timing, instruments, chord progressions, clips and the
// pattern list. ScoreParser fills a Score from text; Sequence turns it into timed notes.
// A Score owns nothing outside itself and never touches audio.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class InstrumentType { Kick, Snare, Clap, Hat, Synth, Noise };

// What a note-on stores as its event value.
enum class EventValue { Note, NoteMod16, Velocity };

struct Chord {
    int root = 0;               // pitch class, 0 = C
    std::vector<int> intervals; // semitones above the root, ascending, first is 0
};

struct ChordSlot {
    Chord chord;
    int rows = 16;
};

struct Progression {
    std::string name;
    std::vector<ChordSlot> slots;
    int totalRows = 0;
};

// One pitch inside a step: an absolute MIDI note, or tone k of the current chord stacked
// upwards from the instrument's lowest note.
struct Pitch {
    bool chordTone = false;
    int value = 0;
    int octaves = 0; // chord tones only: "t0^" is the root an octave up
};

enum class StepKind { Rest, Hold, Play };

struct Step {
    StepKind kind = StepKind::Rest;
    std::vector<Pitch> pitches; // for Play
    bool fullChord = false;     // '*': the whole chord, voiced around the instrument's centre
    float velocity = 0.8f;
};

struct Clip {
    std::string name;
    int stepRows = 1; // rows one step lasts
    std::vector<Step> steps;
    int line = 0;
};

struct Instrument {
    std::string name;
    InstrumentType type = InstrumentType::Synth;
    int channel = 0;
    int level = -1; // sync level track fed by this instrument, -1 for none
    EventValue value = EventValue::Note;
    int low = 45;    // chord tone 0 is the lowest chord root at or above this note
    int centre = 60; // full chords are voiced in [centre - 6, centre + 6)
    std::map<std::string, double> params;

    double param(const std::string& key) const;
};

// An instrument playing a clip over the patterns of one pattern line, with gain and filter
// ramps that run from the line's first row to its last.
struct Placement {
    int instrument = 0;
    int clip = 0;
    double gainFrom = 1.0, gainTo = 1.0;
    double cutoffFrom = 0.0, cutoffTo = 0.0; // octaves added to the instrument's cutoff
};

struct PatternLine {
    int first = 0;
    int last = 0;
    int rows = 64; // rows of each pattern of the line
    int progression = -1;
    std::vector<Placement> placements;
    int line = 0;
};

struct Score {
    double tempo = 110.0;
    int rowsPerBeat = 4;
    int rowsPerPattern = 64;
    int ticksPerRow = 24;
    double lengthSeconds = 216.0;
    double fadeStart = 0.0;
    double fadeEnd = 0.0;
    uint32_t seed = 1;
    std::vector<Instrument> instruments;
    std::vector<Progression> progressions;
    std::vector<Clip> clips;
    std::vector<PatternLine> lines; // in pattern order, covering patterns 0..N-1 without gaps

    double rowSeconds() const { return 60.0 / (tempo * rowsPerBeat); }
    double tickSeconds() const { return rowSeconds() / ticksPerRow; }
    int patternCount() const { return lines.empty() ? 0 : lines.back().last + 1; }
    int patternRows(int pattern) const;
    int patternStartRow(int pattern) const; // pattern == patternCount() gives the end
};
