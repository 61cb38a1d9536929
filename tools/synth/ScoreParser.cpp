#include "ScoreParser.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

#include "../Failure.h"

namespace {

// Parameters each instrument type accepts, with their defaults. Keys shared by all types
// come first; numbers only (named values are translated before they get here).
const std::vector<std::pair<std::string, double>> kCommonParams = {
    {"gain", 1.0}, {"pan", 0.0},   {"reverb", 0.0}, {"delay", 0.0},
    {"duck", 0.0}, {"swing", 0.0}, {"width", 1.0},
};

const std::map<InstrumentType, std::vector<std::pair<std::string, double>>> kTypeParams = {
    {InstrumentType::Kick,
     {{"pitch", 48},
      {"punch", 170},
      {"bend", 0.035},
      {"decay", 0.42},
      {"click", 0.25},
      {"drive", 1.6}}},
    {InstrumentType::Snare, {{"tone", 190}, {"decay", 0.14}, {"body", 0.5}, {"snap", 0.7}}},
    {InstrumentType::Clap, {{"decay", 0.16}, {"tone", 1300}}},
    {InstrumentType::Hat, {{"decay", 0.05}, {"tone", 8000}, {"metal", 0.5}}},
    {InstrumentType::Synth,
     {{"wave", 0},      {"voices", 1},    {"detune", 0},    {"sub", 0},         {"noise", 0},
      {"cutoff", 2000}, {"reso", 0.1},    {"envamt", 0},    {"keytrack", 0.5},  {"attack", 0.005},
      {"decay", 0.3},   {"sustain", 0.7}, {"release", 0.2}, {"fattack", 0.003}, {"fdecay", 0.3},
      {"glide", 0},     {"vibrato", 0},   {"vibrate", 5},   {"mono", 0},        {"drive", 0},
      {"octave", 0}}},
    {InstrumentType::Noise,
     {{"filter", 0},
      {"cutoff", 2000},
      {"reso", 0.2},
      {"attack", 0.01},
      {"decay", 0.5},
      {"sustain", 1.0},
      {"release", 0.3}}},
};

const std::map<std::string, InstrumentType> kTypeNames = {
    {"kick", InstrumentType::Kick},   {"snare", InstrumentType::Snare},
    {"clap", InstrumentType::Clap},   {"hat", InstrumentType::Hat},
    {"synth", InstrumentType::Synth}, {"noise", InstrumentType::Noise},
};

const std::map<std::string, std::vector<int>> kChordQualities = {
    {"", {0, 4, 7}},
    {"m", {0, 3, 7}},
    {"7", {0, 4, 7, 10}},
    {"m7", {0, 3, 7, 10}},
    {"maj7", {0, 4, 7, 11}},
    {"m9", {0, 3, 7, 10, 14}},
    {"maj9", {0, 4, 7, 11, 14}},
    {"add9", {0, 4, 7, 14}},
    {"madd9", {0, 3, 7, 14}},
    {"sus2", {0, 2, 7}},
    {"sus4", {0, 5, 7}},
    {"7sus4", {0, 5, 7, 10}},
    {"6", {0, 4, 7, 9}},
    {"m6", {0, 3, 7, 9}},
    {"dim", {0, 3, 6}},
    {"9", {0, 4, 7, 10, 14}},
    {"m11", {0, 3, 7, 10, 14, 17}},
    {"6add9", {0, 4, 7, 9, 14}},
};

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

std::string stripComment(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
            return line.substr(0, i);
        }
    }
    return line;
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    const char* begin = text.data();
    if (*begin == '+') {
        ++begin;
    }
    const char* end = text.data() + text.size();
    auto result = std::from_chars(begin, end, value);
    return result.ec == std::errc() && result.ptr == end && value == value;
}

bool parseInt(const std::string& text, int& value) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

bool parsePitchClass(const std::string& text, size_t& pos, int& pc) {
    static const int kLetters[7] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    if (pos >= text.size()) {
        return false;
    }
    char letter = text[pos];
    if (letter >= 'a' && letter <= 'g') {
        letter = static_cast<char>(letter - 'a' + 'A');
    }
    if (letter < 'A' || letter > 'G') {
        return false;
    }
    pc = kLetters[letter - 'A'];
    ++pos;
    if (pos < text.size() && (text[pos] == '#' || text[pos] == 'b')) {
        pc += text[pos] == '#' ? 1 : -1;
        ++pos;
    }
    pc = (pc + 12) % 12;
    return true;
}

// Parses "<body>@g[>g]~o[>o]" modifiers of a placement; body is the clip name.
bool parseRamp(const std::string& text, double& from, double& to) {
    size_t arrow = text.find('>');
    if (arrow == std::string::npos) {
        if (!parseNumber(text, from)) {
            return false;
        }
        to = from;
        return true;
    }
    return parseNumber(text.substr(0, arrow), from) && parseNumber(text.substr(arrow + 1), to);
}

class Parser {
public:
    Parser(const std::string& name, Score& score) : fileName(name), parsed(score) {}

    bool run(const std::string& text) {
        std::istringstream in(text);
        std::string raw;
        while (std::getline(in, raw)) {
            ++lineNumber;
            if (!raw.empty() && raw.back() == '\r') {
                raw.pop_back();
            }
            std::string line = stripComment(raw);
            std::vector<std::string> words = splitWords(line);
            if (words.empty()) {
                continue;
            }
            bool indented = line[0] == ' ' || line[0] == '\t';
            if (indented) {
                if (!clipOpen) {
                    return fail("indented line outside a clip");
                }
                if (!clipSteps(words)) {
                    return false;
                }
                continue;
            }
            if (!closeClip()) {
                return false;
            }
            if (!directive(words)) {
                return false;
            }
        }
        if (!closeClip()) {
            return false;
        }
        return finish();
    }

private:
    bool fail(const std::string& what) {
        reportFailure(fileName + ":" + std::to_string(lineNumber) + ": " + what);
        return false;
    }

    bool directive(const std::vector<std::string>& words) {
        const std::string& key = words[0];
        if (key == "tempo" || key == "length") {
            double value = 0;
            if (words.size() != 2 || !parseNumber(words[1], value) || value <= 0 || value > 10000) {
                return fail(key + " needs one positive number");
            }
            (key == "tempo" ? parsed.tempo : parsed.lengthSeconds) = value;
            if (key == "length" && value > 1200) {
                return fail("length is limited to 1200 seconds");
            }
            if (key == "tempo" && (value < 20 || value > 400)) {
                return fail("tempo must lie in 20..400");
            }
            return true;
        }
        if (key == "rows_per_beat" || key == "rows_per_pattern" || key == "ticks_per_row") {
            int value = 0;
            if (words.size() != 2 || !parseInt(words[1], value) || value < 1 || value > 1024) {
                return fail(key + " needs one whole number in 1..1024");
            }
            int& target = key == "rows_per_beat"      ? parsed.rowsPerBeat
                          : key == "rows_per_pattern" ? parsed.rowsPerPattern
                                                      : parsed.ticksPerRow;
            target = value;
            return true;
        }
        if (key == "fade") {
            if (words.size() != 3 || !parseNumber(words[1], parsed.fadeStart) ||
                !parseNumber(words[2], parsed.fadeEnd) || parsed.fadeStart < 0 ||
                parsed.fadeEnd < parsed.fadeStart) {
                return fail("fade needs a start and an end time in seconds, start <= end");
            }
            return true;
        }
        if (key == "seed") {
            double value = 0;
            if (words.size() != 2 || !parseNumber(words[1], value) || value < 0 ||
                value > 4294967295.0) {
                return fail("seed needs one whole number");
            }
            parsed.seed = static_cast<uint32_t>(value);
            return true;
        }
        if (key == "instrument") {
            return instrument(words);
        }
        if (key == "progression") {
            return progression(words);
        }
        if (key == "clip") {
            return clip(words);
        }
        if (key == "pattern") {
            return pattern(words);
        }
        return fail("unknown directive '" + key + "'");
    }

    bool instrument(const std::vector<std::string>& words) {
        if (words.size() < 3) {
            return fail("instrument needs a name and a type");
        }
        if (findInstrument(words[1]) >= 0) {
            return fail("instrument '" + words[1] + "' is declared twice");
        }
        auto type = kTypeNames.find(words[2]);
        if (type == kTypeNames.end()) {
            return fail("unknown instrument type '" + words[2] + "'");
        }
        if (parsed.instruments.size() >= 26) {
            return fail("at most 26 instruments (event channels 0..25)");
        }
        Instrument inst;
        inst.name = words[1];
        inst.type = type->second;
        inst.channel = static_cast<int>(parsed.instruments.size());
        inst.value = inst.type == InstrumentType::Synth ? EventValue::Note : EventValue::Velocity;
        for (const auto& p : kCommonParams) {
            inst.params[p.first] = p.second;
        }
        for (const auto& p : kTypeParams.at(inst.type)) {
            inst.params[p.first] = p.second;
        }
        for (size_t i = 3; i < words.size(); ++i) {
            size_t eq = words[i].find('=');
            if (eq == std::string::npos || eq == 0) {
                return fail("expected key=value, got '" + words[i] + "'");
            }
            std::string k = words[i].substr(0, eq);
            std::string v = words[i].substr(eq + 1);
            if (!instrumentParam(inst, k, v)) {
                return false;
            }
        }
        parsed.instruments.push_back(inst);
        return true;
    }

    bool instrumentParam(Instrument& inst, const std::string& k, const std::string& v) {
        if (k == "level") {
            int level = 0;
            if (!parseInt(v, level) || level < 0 || level > 4) {
                return fail("level must be a sync track 0..4");
            }
            inst.level = level;
            return true;
        }
        if (k == "value") {
            static const std::map<std::string, EventValue> kValues = {
                {"note", EventValue::Note},
                {"mod16", EventValue::NoteMod16},
                {"velocity", EventValue::Velocity}};
            auto found = kValues.find(v);
            if (found == kValues.end()) {
                return fail("value must be note, mod16 or velocity");
            }
            inst.value = found->second;
            return true;
        }
        if (k == "low" || k == "centre") {
            int note = 0;
            if (!parseNoteName(v, note)) {
                return fail("'" + v + "' is not a note name");
            }
            (k == "low" ? inst.low : inst.centre) = note;
            return true;
        }
        auto slot = inst.params.find(k);
        if (slot == inst.params.end()) {
            return fail("instrument '" + inst.name + "' has no parameter '" + k + "'");
        }
        static const std::map<std::string, double> kNamed = {
            {"saw", 0}, {"square", 1}, {"triangle", 2}, {"sine", 3},
            {"lp", 0},  {"bp", 1},     {"hp", 2}};
        double value = 0;
        if (k == "wave" || k == "filter") {
            auto named = kNamed.find(v);
            bool wave = k == "wave";
            if (named == kNamed.end() || (wave && (v == "lp" || v == "bp" || v == "hp")) ||
                (!wave && !(v == "lp" || v == "bp" || v == "hp"))) {
                return fail("bad value '" + v + "' for " + k);
            }
            value = named->second;
        } else if (!parseNumber(v, value)) {
            return fail("bad number '" + v + "' for " + k);
        }
        if (!checkRange(k, value)) {
            return false;
        }
        slot->second = value;
        return true;
    }

    bool checkRange(const std::string& k, double v) {
        struct Range {
            const char* key;
            double lo, hi;
        };
        static const Range kRanges[] = {
            {"gain", 0, 4},        {"pan", -1, 1},        {"reverb", 0, 2},
            {"delay", 0, 2},       {"duck", 0, 1},        {"swing", 0, 0.5},
            {"width", 0, 1},       {"voices", 1, 9},      {"detune", 0, 100},
            {"cutoff", 20, 20000}, {"reso", 0, 0.95},     {"attack", 0, 20},
            {"decay", 0.001, 20},  {"sustain", 0, 1},     {"release", 0.001, 20},
            {"fattack", 0, 20},    {"fdecay", 0.001, 20}, {"glide", 0, 2},
            {"vibrato", 0, 200},   {"vibrate", 0, 20},    {"mono", 0, 1},
            {"drive", 0, 10},      {"octave", -4, 4},     {"pitch", 20, 400},
            {"punch", 20, 2000},   {"bend", 0.001, 1},    {"click", 0, 2},
            {"tone", 20, 18000},   {"body", 0, 2},        {"snap", 0, 2},
            {"metal", 0, 1},       {"envamt", -8, 8},     {"keytrack", 0, 1},
            {"sub", 0, 2},         {"noise", 0, 2},
        };
        for (const Range& r : kRanges) {
            if (k == r.key && (v < r.lo || v > r.hi)) {
                char buffer[160];
                std::snprintf(buffer, sizeof buffer, "%s must lie in %g..%g", r.key, r.lo, r.hi);
                return fail(buffer);
            }
        }
        return true;
    }

    bool progression(const std::vector<std::string>& words) {
        if (words.size() < 3) {
            return fail("progression needs a name and at least one chord");
        }
        if (findProgression(words[1]) >= 0) {
            return fail("progression '" + words[1] + "' is declared twice");
        }
        Progression prog;
        prog.name = words[1];
        for (size_t i = 2; i < words.size(); ++i) {
            ChordSlot slot;
            std::string symbol = words[i];
            size_t colon = symbol.find(':');
            if (colon != std::string::npos) {
                if (!parseInt(symbol.substr(colon + 1), slot.rows) || slot.rows < 1 ||
                    slot.rows > 4096) {
                    return fail("bad chord length in '" + words[i] + "'");
                }
                symbol = symbol.substr(0, colon);
            }
            if (!parseChordName(symbol, slot.chord)) {
                return fail("unknown chord '" + symbol + "'");
            }
            prog.totalRows += slot.rows;
            prog.slots.push_back(slot);
        }
        parsed.progressions.push_back(prog);
        return true;
    }

    bool clip(const std::vector<std::string>& words) {
        if (words.size() < 3 || (words[2] != "grid" && words[2] != "notes")) {
            return fail("clip needs a name and 'grid' or 'notes'");
        }
        if (findClip(words[1]) >= 0) {
            return fail("clip '" + words[1] + "' is declared twice");
        }
        Clip c;
        c.name = words[1];
        c.line = lineNumber;
        for (size_t i = 3; i < words.size(); ++i) {
            if (words[i].rfind("step=", 0) != 0 || !parseInt(words[i].substr(5), c.stepRows) ||
                c.stepRows < 1 || c.stepRows > 256) {
                return fail("bad clip option '" + words[i] + "' (expected step=<rows>)");
            }
        }
        parsed.clips.push_back(c);
        clipOpen = true;
        clipIsGrid = words[2] == "grid";
        return true;
    }

    bool clipSteps(const std::vector<std::string>& words) {
        Clip& c = parsed.clips.back();
        for (const std::string& word : words) {
            if (clipIsGrid) {
                for (char ch : word) {
                    Step s;
                    if (ch == '.') {
                        s.kind = StepKind::Rest;
                    } else if (ch == 'x' || ch == 'X' || ch == 'o') {
                        s.kind = StepKind::Play;
                        s.velocity = ch == 'X' ? 1.0f : ch == 'x' ? 0.8f : 0.45f;
                    } else if (ch == '|') {
                        continue;
                    } else {
                        return fail(std::string("unknown grid step '") + ch + "'");
                    }
                    c.steps.push_back(s);
                }
            } else {
                Step s;
                if (!noteStep(word, s)) {
                    return false;
                }
                c.steps.push_back(s);
            }
            if (c.steps.size() > 65536) {
                return fail("clip is too long");
            }
        }
        return true;
    }

    bool noteStep(std::string word, Step& step) {
        if (word == ".") {
            step.kind = StepKind::Rest;
            return true;
        }
        if (word == "-") {
            step.kind = StepKind::Hold;
            return true;
        }
        step.kind = StepKind::Play;
        if (word.back() == '!' || word.back() == '?') {
            step.velocity = word.back() == '!' ? 1.0f : 0.5f;
            word.pop_back();
        }
        size_t start = 0;
        while (start <= word.size()) {
            size_t plus = word.find('+', start);
            std::string part =
                word.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
            if (part == "*") {
                step.fullChord = true;
            } else if (part.size() >= 2 && part[0] == 't') {
                Pitch p;
                p.chordTone = true;
                while (part.size() > 2 && part.back() == '^') {
                    ++p.octaves;
                    part.pop_back();
                }
                if (!parseInt(part.substr(1), p.value) || p.value < 0 || p.value > 15) {
                    return fail("bad chord tone '" + part + "' (t0..t15)");
                }
                step.pitches.push_back(p);
            } else {
                Pitch p;
                if (!parseNoteName(part, p.value)) {
                    return fail("bad note '" + part + "'");
                }
                step.pitches.push_back(p);
            }
            if (plus == std::string::npos) {
                break;
            }
            start = plus + 1;
        }
        return true;
    }

    bool closeClip() {
        if (clipOpen && parsed.clips.back().steps.empty()) {
            lineNumber = parsed.clips.back().line;
            return fail("clip '" + parsed.clips.back().name + "' has no steps");
        }
        clipOpen = false;
        return true;
    }

    bool pattern(const std::vector<std::string>& words) {
        if (words.size() < 2) {
            return fail("pattern needs a pattern number or range");
        }
        PatternLine pl;
        pl.line = lineNumber;
        pl.rows = parsed.rowsPerPattern;
        size_t dash = words[1].find('-');
        if (dash == std::string::npos) {
            if (!parseInt(words[1], pl.first)) {
                return fail("bad pattern number '" + words[1] + "'");
            }
            pl.last = pl.first;
        } else if (!parseInt(words[1].substr(0, dash), pl.first) ||
                   !parseInt(words[1].substr(dash + 1), pl.last)) {
            return fail("bad pattern range '" + words[1] + "'");
        }
        int expected = parsed.lines.empty() ? 0 : parsed.lines.back().last + 1;
        if (pl.first != expected || pl.last < pl.first || pl.last > 999) {
            return fail("patterns must follow on without gaps: expected pattern " +
                        std::to_string(expected));
        }
        for (size_t i = 2; i < words.size(); ++i) {
            size_t eq = words[i].find('=');
            if (eq == std::string::npos || eq == 0) {
                return fail("expected key=value, got '" + words[i] + "'");
            }
            std::string k = words[i].substr(0, eq);
            std::string v = words[i].substr(eq + 1);
            if (k == "rows") {
                if (!parseInt(v, pl.rows) || pl.rows < 1 || pl.rows > 4096) {
                    return fail("rows must be a whole number in 1..4096");
                }
            } else if (k == "chords") {
                pl.progression = findProgression(v);
                if (pl.progression < 0) {
                    return fail("unknown progression '" + v + "'");
                }
            } else if (!placement(k, v, pl)) {
                return false;
            }
        }
        parsed.lines.push_back(pl);
        return true;
    }

    bool placement(const std::string& k, const std::string& v, PatternLine& pl) {
        Placement p;
        p.instrument = findInstrument(k);
        if (p.instrument < 0) {
            return fail("unknown instrument '" + k + "'");
        }
        size_t at = v.find('@');
        size_t tilde = v.find('~');
        size_t nameEnd = std::min(at, tilde);
        p.clip = findClip(v.substr(0, nameEnd));
        if (p.clip < 0) {
            return fail("unknown clip '" + v.substr(0, nameEnd) + "'");
        }
        if (at != std::string::npos) {
            size_t end = tilde > at ? tilde : std::string::npos;
            std::string gain = v.substr(at + 1, end == std::string::npos ? end : end - at - 1);
            if (!parseRamp(gain, p.gainFrom, p.gainTo) || p.gainFrom < 0 || p.gainTo < 0 ||
                p.gainFrom > 4 || p.gainTo > 4) {
                return fail("bad gain '" + gain + "' (0..4, or a>b for a ramp)");
            }
        }
        if (tilde != std::string::npos) {
            size_t end = at > tilde ? at : std::string::npos;
            std::string cut = v.substr(tilde + 1, end == std::string::npos ? end : end - tilde - 1);
            if (!parseRamp(cut, p.cutoffFrom, p.cutoffTo) || p.cutoffFrom < -10 ||
                p.cutoffTo < -10 || p.cutoffFrom > 10 || p.cutoffTo > 10) {
                return fail("bad filter offset '" + cut + "' (octaves -10..10, or a>b)");
            }
        }
        for (const Placement& other : pl.placements) {
            if (other.instrument == p.instrument) {
                return fail("instrument '" + k + "' is placed twice in one pattern line");
            }
        }
        pl.placements.push_back(p);
        return true;
    }

    bool finish() {
        if (parsed.lines.empty()) {
            return fail("the score has no patterns");
        }
        double songSeconds = parsed.patternStartRow(parsed.patternCount()) * parsed.rowSeconds();
        if (songSeconds + 1e-6 < parsed.lengthSeconds - 30.0) {
            return fail("the patterns end long before the length");
        }
        if (parsed.fadeEnd > parsed.lengthSeconds + 1e-9) {
            return fail("the fade ends after the length");
        }
        return true;
    }

    int findInstrument(const std::string& n) const {
        for (size_t i = 0; i < parsed.instruments.size(); ++i) {
            if (parsed.instruments[i].name == n) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    int findProgression(const std::string& n) const {
        for (size_t i = 0; i < parsed.progressions.size(); ++i) {
            if (parsed.progressions[i].name == n) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    int findClip(const std::string& n) const {
        for (size_t i = 0; i < parsed.clips.size(); ++i) {
            if (parsed.clips[i].name == n) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    const std::string& fileName;
    Score& parsed;
    int lineNumber = 0;
    bool clipOpen = false;
    bool clipIsGrid = false;
};

} // namespace

double Instrument::param(const std::string& key) const {
    auto found = params.find(key);
    return found == params.end() ? 0.0 : found->second;
}

int Score::patternRows(int pattern) const {
    for (const PatternLine& line : lines) {
        if (pattern >= line.first && pattern <= line.last) {
            return line.rows;
        }
    }
    return 0;
}

int Score::patternStartRow(int pattern) const {
    int row = 0;
    for (const PatternLine& line : lines) {
        if (pattern <= line.first) {
            break;
        }
        int count = std::min(pattern, line.last + 1) - line.first;
        row += count * line.rows;
    }
    return row;
}

bool parseNoteName(const std::string& text, int& note) {
    static const int kLetters[7] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    if (text.size() < 2) {
        return false;
    }
    char letter = text[0];
    if (letter >= 'a' && letter <= 'g') {
        letter = static_cast<char>(letter - 'a' + 'A');
    }
    if (letter < 'A' || letter > 'G') {
        return false;
    }
    // The accidental moves the pitch, not the octave: "Cb4" is B3, "B#3" is C4.
    int pitch = kLetters[letter - 'A'];
    size_t pos = 1;
    if (text[pos] == '#' || text[pos] == 'b') {
        pitch += text[pos] == '#' ? 1 : -1;
        ++pos;
    }
    int octave = 0;
    if (!parseInt(text.substr(pos), octave) || octave < -1 || octave > 9) {
        return false;
    }
    note = 12 * (octave + 1) + pitch;
    return note >= 0 && note <= 127;
}

bool parseChordName(const std::string& text, Chord& chord) {
    size_t pos = 0;
    int pc = 0;
    if (!parsePitchClass(text, pos, pc)) {
        return false;
    }
    auto quality = kChordQualities.find(text.substr(pos));
    if (quality == kChordQualities.end()) {
        return false;
    }
    chord.root = pc;
    chord.intervals = quality->second;
    return true;
}

bool parseScore(const std::string& text, const std::string& name, Score& score) {
    score = Score();
    Parser parser(name, score);
    return parser.run(text);
}

bool loadScore(const std::string& path, Score& score) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        reportFailure(path + ": cannot open the score");
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string name = path;
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    return parseScore(text.str(), name, score);
}
