#pragma once
// Reads the score text format into a Score. Every problem is reported once, as
// "<name>:<line>: <what>", and the parse returns false; nothing depends on the C locale.
//
// The format, one directive a line, '#' after whitespace starts a comment:
//   tempo 110 | rows_per_beat 4 | rows_per_pattern 64 | ticks_per_row 24
//   length <seconds> | fade <start s> <end s> | seed <n>
//   instrument <name> <kick|snare|clap|hat|synth|noise> key=value ...
//   progression <name> <chord>[:rows] ...          chords like Am7, Fmaj9, G6, Esus4
//   clip <name> grid|notes [step=<rows>]            followed by indented lines of steps
//   pattern <first>[-<last>] [rows=N] [chords=<progression>] <instrument>=<clip>[@g[>g]][~o[>o]]
//   ...
// Grid steps: x hit, X accent, o ghost, . rest. Note steps: A4, C#5, t0..t15 (chord tones),
// * (full chord), joined with +; t0^ is a chord tone an octave up; suffix ! accent or ? soft;
// - holds, . rests.

#include <string>

#include "Score.h"

// Fills `score`; a fault is reported on stderr with the file name and line.
bool parseScore(const std::string& text, const std::string& name, Score& score);

// Reads a whole file and parses it; a missing file is reported like a parse error.
bool loadScore(const std::string& path, Score& score);

// "A4" -> 69; returns false for anything that is not a note name in MIDI range.
bool parseNoteName(const std::string& text, int& note);

// "Am7" -> root 9, intervals {0, 3, 7, 10}.
bool parseChordName(const std::string& text, Chord& chord);
