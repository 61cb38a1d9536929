#include "Sequence.h"

#include <algorithm>
#include <cmath>

namespace {

const ChordSlot* chordAt(const Score& score, const PatternLine& line, int rowInLine) {
    if (line.progression < 0) {
        return nullptr;
    }
    const Progression& prog = score.progressions[line.progression];
    int pos = rowInLine % prog.totalRows;
    for (const ChordSlot& slot : prog.slots) {
        if (pos < slot.rows) {
            return &slot;
        }
        pos -= slot.rows;
    }
    return &prog.slots.back();
}

// Pitches one step plays, given the chord sounding at its row.
std::vector<int> stepPitches(const Instrument& inst, const Step& step, const ChordSlot* slot) {
    std::vector<int> pitches;
    int shift =
        inst.type == InstrumentType::Synth ? 12 * static_cast<int>(inst.param("octave")) : 0;
    if (step.fullChord && slot != nullptr) {
        int bottom = inst.centre - 6;
        for (int interval : slot->chord.intervals) {
            int pc = (slot->chord.root + interval) % 12;
            pitches.push_back(bottom + ((pc - bottom % 12) % 12 + 12) % 12);
        }
    }
    for (const Pitch& p : step.pitches) {
        if (!p.chordTone) {
            pitches.push_back(p.value);
        } else if (slot != nullptr) {
            const std::vector<int>& iv = slot->chord.intervals;
            int n = static_cast<int>(iv.size());
            int base = inst.low + ((slot->chord.root - inst.low % 12) % 12 + 12) % 12;
            pitches.push_back(base + iv[p.value % n] + 12 * (p.value / n + p.octaves));
        }
    }
    for (int& pitch : pitches) {
        pitch = std::clamp(pitch + shift, 0, 127);
    }
    std::sort(pitches.begin(), pitches.end());
    pitches.erase(std::unique(pitches.begin(), pitches.end()), pitches.end());
    return pitches;
}

uint8_t eventValue(const Instrument& inst, const Note& note) {
    switch (inst.value) {
    case EventValue::Note:
        return static_cast<uint8_t>(note.pitch);
    case EventValue::NoteMod16:
        return static_cast<uint8_t>(note.pitch % 16);
    case EventValue::Velocity:
        break;
    }
    return static_cast<uint8_t>(std::lround(std::clamp(note.velocity, 0.0f, 1.0f) * 127.0f));
}

double ramp(double from, double to, double start, double end, double t) {
    if (end <= start) {
        return from;
    }
    double x = std::clamp((t - start) / (end - start), 0.0, 1.0);
    return from + (to - from) * x;
}

} // namespace

double Sequence::gainAt(int instrument, double t) const {
    const std::vector<AutomationSegment>& segs = automation[instrument];
    double last = 0.0;
    for (const AutomationSegment& s : segs) {
        if (t >= s.start && t < s.end) {
            return ramp(s.gainFrom, s.gainTo, s.start, s.end, t);
        }
        // Release tails keep the gain the last segment before them ended with.
        if (s.end <= t) {
            last = s.gainTo;
        }
    }
    return last;
}

double Sequence::cutoffAt(int instrument, double t) const {
    const std::vector<AutomationSegment>& segs = automation[instrument];
    for (const AutomationSegment& s : segs) {
        if (t >= s.start && t < s.end) {
            return ramp(s.cutoffFrom, s.cutoffTo, s.start, s.end, t);
        }
    }
    // Release tails keep the filter where the last segment before them left it.
    double last = 0.0;
    for (const AutomationSegment& s : segs) {
        if (s.end <= t) {
            last = s.cutoffTo;
        }
    }
    return last;
}

Sequence buildSequence(const Score& score, int patternLimit) {
    Sequence seq;
    const double rowSec = score.rowSeconds();
    int patterns = score.patternCount();
    if (patternLimit > 0 && patternLimit < patterns) {
        patterns = patternLimit;
    }
    for (int p = 0; p <= patterns; ++p) {
        seq.patternStarts.push_back(score.patternStartRow(p) * rowSec);
    }
    seq.lengthSeconds =
        patterns < score.patternCount() ? seq.patternStarts.back() : score.lengthSeconds;
    seq.automation.resize(score.instruments.size());

    for (const PatternLine& line : score.lines) {
        if (line.first >= patterns) {
            break;
        }
        int lastPattern = std::min(line.last, patterns - 1);
        int startRow = score.patternStartRow(line.first);
        int lineRows = (lastPattern - line.first + 1) * line.rows;
        double lineStart = startRow * rowSec;
        double lineEnd = (startRow + lineRows) * rowSec;
        // A ramp spans the whole line as written, even when the layout stops early.
        double rampEnd = (startRow + (line.last - line.first + 1) * line.rows) * rowSec;

        for (const Placement& pl : line.placements) {
            const Instrument& inst = score.instruments[pl.instrument];
            const Clip& clip = score.clips[pl.clip];
            AutomationSegment seg;
            seg.start = lineStart;
            seg.end = lineEnd;
            seg.gainFrom = pl.gainFrom;
            seg.gainTo = ramp(pl.gainFrom, pl.gainTo, lineStart, rampEnd, lineEnd);
            seg.cutoffFrom = pl.cutoffFrom;
            seg.cutoffTo = ramp(pl.cutoffFrom, pl.cutoffTo, lineStart, rampEnd, lineEnd);
            seq.automation[pl.instrument].push_back(seg);

            bool mono = inst.type == InstrumentType::Synth && inst.param("mono") > 0.5;
            double swing = inst.param("swing") * rowSec;
            std::vector<Note> open;
            int lastPitch = -1;
            auto closeOpen = [&](double t) {
                for (Note& n : open) {
                    n.duration = std::max(0.0, t - n.start);
                    seq.notes.push_back(n);
                }
                open.clear();
            };
            int stepCount = (lineRows + clip.stepRows - 1) / clip.stepRows;
            for (int k = 0; k < stepCount; ++k) {
                const Step& step = clip.steps[k % clip.steps.size()];
                int rowInLine = k * clip.stepRows;
                int row = startRow + rowInLine;
                double t = row * rowSec + ((row % 2 == 1) ? swing : 0.0);
                if (step.kind == StepKind::Hold) {
                    continue;
                }
                bool legato = !open.empty();
                closeOpen(t);
                if (step.kind == StepKind::Rest) {
                    lastPitch = -1;
                    continue;
                }
                std::vector<int> pitches = stepPitches(inst, step, chordAt(score, line, rowInLine));
                if (inst.type != InstrumentType::Synth) {
                    pitches = {60};
                }
                for (int pitch : pitches) {
                    Note n;
                    n.instrument = pl.instrument;
                    n.start = t;
                    n.pitch = pitch;
                    n.velocity = step.velocity;
                    n.previousPitch = (mono && legato) ? lastPitch : -1;
                    open.push_back(n);
                }
                lastPitch = pitches.empty() ? -1 : pitches.back();
            }
            closeOpen(lineEnd);
        }
    }

    // Drop what starts after the end, cut what rings past it.
    std::vector<Note> kept;
    for (const Note& n : seq.notes) {
        if (n.start < seq.lengthSeconds) {
            kept.push_back(n);
            kept.back().duration = std::min(n.duration, seq.lengthSeconds - n.start);
        }
    }
    seq.notes = std::move(kept);
    std::stable_sort(seq.notes.begin(), seq.notes.end(), [](const Note& a, const Note& b) {
        if (a.start != b.start) {
            return a.start < b.start;
        }
        if (a.instrument != b.instrument) {
            return a.instrument < b.instrument;
        }
        return a.pitch < b.pitch;
    });

    const double tickSec = score.tickSeconds();
    for (const Note& n : seq.notes) {
        NoteEvent e;
        e.tick = static_cast<uint32_t>(std::llround(n.start / tickSec));
        e.channel = static_cast<uint8_t>(score.instruments[n.instrument].channel);
        e.value = eventValue(score.instruments[n.instrument], n);
        seq.events.push_back(e);
    }
    std::stable_sort(seq.events.begin(), seq.events.end(),
                     [](const NoteEvent& a, const NoteEvent& b) {
                         return a.tick != b.tick ? a.tick < b.tick : a.channel < b.channel;
                     });
    return seq;
}
