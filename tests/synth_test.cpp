// The music pipeline: the score parser, the laid-out timing against the show's sync
// arithmetic, and the files lumenfall-synth writes (formats, loudness, determinism).

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "ScoreParser.h"
#include "Sequence.h"
#include "support/TestSupport.h"

namespace {

const std::string kScorePath = std::string(LUMENFALL_SOURCE_DIR) + "/content/song/score.txt";
constexpr double kShowTickMs = 5.6818; // the show's tick length

// Start of pattern p as the show computes it from the music time.
double showPatternStartMs(int p) {
    return p <= 12 ? 8727.0 * p : 8727.0 * (p - 1) + 2176.0;
}

std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// Runs a command, returns its exit status and fills output with stdout and stderr.
int runCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string synthCommand(const std::string& score, const std::string& out,
                         const std::string& extra = "") {
    return std::string("'") + LUMENFALL_SYNTH_EXE + "' --quiet --score '" + score + "' --out '" +
           out + "' " + extra;
}

struct Event {
    uint32_t tick;
    int kind, channel, value, spare;
};

std::vector<Event> readEvents(const std::string& path) {
    std::vector<unsigned char> b = readBytes(path);
    std::vector<Event> events;
    for (size_t i = 0; i + 8 <= b.size(); i += 8) {
        uint32_t tick = b[i] | (b[i + 1] << 8) | (b[i + 2] << 16) | (uint32_t(b[i + 3]) << 24);
        events.push_back({tick, b[i + 4], b[i + 5], b[i + 6], b[i + 7]});
    }
    return events;
}

std::vector<uint16_t> readLevels(const std::string& path) {
    std::vector<unsigned char> b = readBytes(path);
    std::vector<uint16_t> samples;
    for (size_t i = 0; i + 2 <= b.size(); i += 2) {
        samples.push_back(static_cast<uint16_t>(b[i] | (b[i + 1] << 8)));
    }
    return samples;
}

} // namespace

TEST(ScoreParser, ReadsNoteAndChordNames) {
    struct Case {
        const char* text;
        bool ok;
        int note;
    } notes[] = {{"A4", true, 69},  {"C4", true, 60},  {"C#5", true, 73}, {"Bb3", true, 58},
                 {"Cb4", true, 59}, {"B#3", true, 60}, {"c-1", true, 0},  {"G9", true, 127},
                 {"H4", false, 0},  {"A", false, 0},   {"A10", false, 0}, {"G#9", false, 0},
                 {"A4x", false, 0}, {"", false, 0}};
    for (const Case& c : notes) {
        int note = -1;
        EXPECT_EQ(parseNoteName(c.text, note), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(note, c.note) << c.text;
        }
    }
    Chord chord;
    ASSERT_TRUE(parseChordName("Am7", chord));
    EXPECT_EQ(chord.root, 9);
    EXPECT_EQ(chord.intervals, (std::vector<int>{0, 3, 7, 10}));
    ASSERT_TRUE(parseChordName("Ebmaj7", chord));
    EXPECT_EQ(chord.root, 3);
    EXPECT_FALSE(parseChordName("Am13b5", chord));
    EXPECT_FALSE(parseChordName("X", chord));
}

TEST(ScoreParser, MalformedScoresFailWithTheirLineNumber) {
    const std::string head = "tempo 110\ninstrument k kick\n"; // lines 1-2
    struct Case {
        std::string text;
        std::string where;
    } cases[] = {
        {"tempo\n", "s.txt:1:"},
        {"tempo 0\n", "s.txt:1:"},
        {"tempo 1,5\n", "s.txt:1:"},
        {"volume 3\n", "s.txt:1: unknown directive"},
        {head + "instrument k snare\n", "s.txt:3:"},
        {head + "instrument z flute\n", "s.txt:3:"},
        {head + "instrument z synth cutoff=abc\n", "s.txt:3:"},
        {head + "instrument z synth cutoff=1e9\n", "s.txt:3:"},
        {head + "instrument z synth level=7\n", "s.txt:3:"},
        {head + "instrument z synth colour=2\n", "s.txt:3:"},
        {head + "progression p Am Qm7\n", "s.txt:3:"},
        {head + "clip c notes\n    A4 H4\n", "s.txt:4:"},
        {head + "clip c notes\n    t16\n", "s.txt:4:"},
        {head + "clip c grid\n    x..y\n", "s.txt:4:"},
        {head + "clip c grid\n\npattern 0 k=c\n", "s.txt:3:"},
        {head + "    x...\n", "s.txt:3: indented"},
        {head + "clip c grid\n    x...\npattern 1 k=c\n", "s.txt:5:"},
        {head + "clip c grid\n    x...\npattern 0 k=nope\n", "s.txt:5:"},
        {head + "clip c grid\n    x...\npattern 0 q=c\n", "s.txt:5:"},
        {head + "clip c grid\n    x...\npattern 0 k=c@-1\n", "s.txt:5:"},
        {head + "clip c grid\n    x...\npattern 0 k=c~1>\n", "s.txt:5:"},
        {head + "clip c grid\n    x...\npattern 0 rows=0 k=c\n", "s.txt:5:"},
        {head + "clip c grid\n    x...\npattern 0-2 k=c k=c\n", "s.txt:5:"},
        {head, "s.txt:2: the score has no patterns"},
    };
    for (const Case& c : cases) {
        Score score;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(parseScore(c.text, "s.txt", score)) << c.text;
        const std::string error = testing::internal::GetCapturedStderr();
        // "<program>: <where>..."
        const size_t colon = error.find(": ");
        EXPECT_TRUE(colon != std::string::npos &&
                    error.compare(colon + 2, c.where.size(), c.where) == 0)
            << "got '" << error << "' for:\n"
            << c.text;
    }
}

TEST(Sequence, RowsTicksChordTonesAndRamps) {
    const std::string text = "tempo 110\nlength 4\n"
                             "instrument k kick\n"
                             "instrument b synth low=E1 mono=1\n"
                             "instrument p synth centre=C4 value=mod16\n"
                             "progression one Am7:8 F:8\n"
                             "clip beat grid\n    X... x...\n"
                             "clip line notes step=4\n    t0 - t2^ .\n"
                             "clip chord notes step=8\n    *\n"
                             "pattern 0 rows=16 chords=one k=beat b=line@0>1 p=chord\n"
                             "pattern 1 rows=16 k=beat\n";
    Score score;
    ASSERT_TRUE(parseScore(text, "t.txt", score));
    Sequence seq = buildSequence(score);
    ASSERT_EQ(seq.patternStarts.size(), 3u);
    EXPECT_NEAR(seq.patternStarts[1], 16 * 60.0 / 440.0, 1e-9);

    // Kicks on rows 0, 4, 8, 12 of both patterns, 24 ticks a row; values are velocities.
    std::vector<uint32_t> kickTicks;
    std::vector<int> kickValues;
    for (const NoteEvent& e : seq.events) {
        if (e.channel == 0) {
            kickTicks.push_back(e.tick);
            kickValues.push_back(e.value);
        }
    }
    EXPECT_EQ(kickTicks, (std::vector<uint32_t>{0, 96, 192, 288, 384, 480, 576, 672}));
    EXPECT_EQ(kickValues[0], 127);
    EXPECT_EQ(kickValues[1], 102);

    std::vector<int> bassPitches, padPitches;
    for (const Note& n : seq.notes) {
        if (n.instrument == 1) {
            bassPitches.push_back(n.pitch);
        } else if (n.instrument == 2) {
            padPitches.push_back(n.pitch);
        }
    }
    // Bass: A1 held two steps, then the fifth of F an octave up (C3), then a rest.
    EXPECT_EQ(bassPitches, (std::vector<int>{33, 48}));
    // Full chords sit in [F#3, F#4): Am7 = G3 A3 C4 E4, F = A3 C4 F4.
    EXPECT_EQ(padPitches, (std::vector<int>{55, 57, 60, 64, 57, 60, 65}));
    for (const NoteEvent& e : seq.events) {
        if (e.channel == 2) {
            EXPECT_LT(e.value, 16);
        }
    }
    // The gain ramp runs over the whole line; tails keep its last value.
    double lineEnd = seq.patternStarts[1];
    EXPECT_NEAR(seq.gainAt(1, 0.0), 0.0, 1e-9);
    EXPECT_NEAR(seq.gainAt(1, lineEnd / 2), 0.5, 1e-9);
    EXPECT_NEAR(seq.gainAt(1, lineEnd + 0.5), 1.0, 1e-9);
}

TEST(SongScore, PatternStartsAgreeWithTheShowsSyncArithmetic) {
    Score score;
    ASSERT_TRUE(loadScore(kScorePath, score));
    Sequence seq = buildSequence(score);
    EXPECT_NEAR(seq.lengthSeconds, 216.0, 0.5);
    ASSERT_GE(score.patternCount(), 25);
    EXPECT_EQ(score.patternRows(12), 16);
    for (int p = 0; p < score.patternCount(); ++p) {
        double musicMs = seq.patternStarts[p] * 1000.0;
        EXPECT_NEAR(musicMs, showPatternStartMs(p), 15.0) << "pattern " << p;
    }
    // Scene cuts land on pattern starts.
    EXPECT_NEAR(seq.patternStarts[13] * 1000.0, 106905.0, 15.0);
    EXPECT_NEAR(seq.patternStarts[17] * 1000.0, 141813.0, 15.0);
    EXPECT_NEAR(seq.patternStarts[21] * 1000.0, 176721.0, 15.0);
    EXPECT_NEAR(seq.patternStarts[23] * 1000.0, 194175.0, 15.0);

    // Every note-on is an event at its own time, as the show counts ticks.
    ASSERT_EQ(seq.events.size(), seq.notes.size());
    std::vector<double> noteMs;
    for (const Note& n : seq.notes) {
        noteMs.push_back(n.start * 1000.0);
    }
    for (size_t i = 0; i < seq.events.size(); ++i) {
        if (i > 0) {
            ASSERT_LE(seq.events[i - 1].tick, seq.events[i].tick);
        }
        ASSERT_LE(seq.events[i].channel, 25);
        if (seq.events[i].channel == 2) {
            ASSERT_LE(seq.events[i].value, 15);
        }
    }
    // A kick sits on the first row of every pattern with drums, e.g. the scene cut at 13.
    bool kickAtCut = false;
    for (const NoteEvent& e : seq.events) {
        double ms = e.tick * kShowTickMs;
        if (e.channel == 0 && std::fabs(ms - showPatternStartMs(13)) < 15.0) {
            kickAtCut = true;
        }
    }
    EXPECT_TRUE(kickAtCut);
    EXPECT_NEAR(seq.events.back().tick * kShowTickMs, noteMs.back(), 2.0);
}

// One full render, checked the way the show and a loudness meter see it.
TEST(SynthPipeline, FullRenderMeetsFormatsLevelsAndLoudness) {
    testing_support::TempDir dir;
    std::string output;
    ASSERT_EQ(runCommand(synthCommand(kScorePath, dir.path()), output), 0) << output;

    std::vector<Event> events = readEvents(dir.file("music.msd"));
    EXPECT_EQ(readBytes(dir.file("music.msd")).size() % 8, 0u);
    ASSERT_GT(events.size(), 1000u);
    bool sawChannel2 = false;
    for (size_t i = 0; i < events.size(); ++i) {
        ASSERT_EQ(events[i].kind, 1);
        ASSERT_EQ(events[i].spare, 0);
        ASSERT_LE(events[i].channel, 25);
        if (i > 0) {
            ASSERT_LE(events[i - 1].tick, events[i].tick);
        }
        if (events[i].channel == 2) {
            sawChannel2 = true;
            ASSERT_LE(events[i].value, 15);
        }
    }
    EXPECT_TRUE(sawChannel2);

    std::vector<std::vector<uint16_t>> levels;
    for (int k = 1; k <= 5; ++k) {
        levels.push_back(readLevels(dir.file("0" + std::to_string(k) + ".rms")));
        const std::vector<uint16_t>& track = levels.back();
        ASSERT_GE(track.size(), 21600u) << k;
        uint16_t loudest = 0;
        for (uint16_t s : track) {
            loudest = std::max(loudest, s);
        }
        EXPECT_NEAR(loudest, 58982, 600) << "track " << k;
    }
    // The opening (patterns 0-3) breathes with level 1: clearly there, and rising and
    // falling within every pattern.
    for (int p = 0; p < 4; ++p) {
        size_t a = static_cast<size_t>(showPatternStartMs(p) / 10), b = a + 872;
        uint16_t lo = 65535, hi = 0;
        for (size_t k = a; k < b; ++k) {
            lo = std::min(lo, levels[1][k]);
            hi = std::max(hi, levels[1][k]);
        }
        EXPECT_GT(hi, 0.5 * 65536) << "pattern " << p;
        EXPECT_LT(lo, hi / 3) << "pattern " << p;
    }
    // The kick track peaks on the kicks: pattern 13 starts with one.
    size_t cut = static_cast<size_t>(showPatternStartMs(13) / 10);
    uint16_t atCut = 0;
    for (size_t k = cut - 1; k <= cut + 3; ++k) {
        atCut = std::max(atCut, levels[0][k]);
    }
    EXPECT_GT(atCut, 0.5 * 65536);

    // Length and clipping, from the decoded stream.
    OggVorbis_File vf;
    ASSERT_EQ(ov_fopen(dir.file("music.ogg").c_str(), &vf), 0);
    vorbis_info* info = ov_info(&vf, -1);
    EXPECT_EQ(info->channels, 2);
    EXPECT_EQ(info->rate, 44100);
    EXPECT_NEAR(ov_time_total(&vf, -1), 216.0, 0.5);
    long clipped = 0;
    char pcm[16384];
    int section = 0;
    long got = 0;
    while ((got = ov_read(&vf, pcm, sizeof pcm, 0, 2, 1, &section)) > 0) {
        const int16_t* s = reinterpret_cast<const int16_t*>(pcm);
        for (long i = 0; i < got / 2; ++i) {
            clipped += (s[i] >= 32767 || s[i] <= -32768) ? 1 : 0;
        }
    }
    ov_clear(&vf);
    EXPECT_EQ(clipped, 0);

    // Loudness and true peak as ffmpeg's meter reads them.
    ASSERT_EQ(runCommand("ffmpeg -nostats -hide_banner -i '" + dir.file("music.ogg") +
                             "' -af ebur128=peak=true -f null -",
                         output),
              0)
        << output;
    size_t summary = output.rfind("Integrated loudness:");
    ASSERT_NE(summary, std::string::npos) << output;
    double lufs = 0, peak = 0;
    size_t i = output.find("I:", summary);
    size_t p = output.find("Peak:", summary);
    ASSERT_TRUE(i != std::string::npos && p != std::string::npos) << output;
    lufs = std::strtod(output.c_str() + i + 2, nullptr);
    peak = std::strtod(output.c_str() + p + 5, nullptr);
    EXPECT_NEAR(lufs, -14.0, 1.0);
    EXPECT_LE(peak, -1.0);
}

TEST(SynthPipeline, SameScoreRendersIdenticalFiles) {
    testing_support::TempDir first, second;
    std::string output;
    ASSERT_EQ(runCommand(synthCommand(kScorePath, first.path(), "--patterns 2"), output), 0)
        << output;
    ASSERT_EQ(runCommand(synthCommand(kScorePath, second.path(), "--patterns 2"), output), 0)
        << output;
    for (const char* name :
         {"music.ogg", "music.msd", "01.rms", "02.rms", "03.rms", "04.rms", "05.rms"}) {
        std::vector<unsigned char> a = readBytes(first.file(name));
        EXPECT_FALSE(a.empty()) << name;
        EXPECT_TRUE(a == readBytes(second.file(name))) << name;
    }
    // Two patterns of music: 17.45 s, a level sample every 10 ms.
    EXPECT_EQ(readLevels(first.file("02.rms")).size(), 1746u);
}

TEST(SynthPipeline, BadScoreOrArgumentsFailCleanly) {
    testing_support::TempDir dir;
    std::string bad = dir.file("bad.txt");
    std::ofstream(bad) << "tempo 110\ninstrument k kick\nclip c grid\n    x..?\n";
    std::string output;
    EXPECT_EQ(runCommand(synthCommand(bad, dir.file("out")), output), 1);
    EXPECT_NE(output.find("bad.txt:4:"), std::string::npos) << output;
    EXPECT_FALSE(std::ifstream(dir.file("out/music.ogg")).good());

    EXPECT_NE(runCommand(synthCommand(dir.file("missing.txt"), dir.file("out")), output), 0);
    EXPECT_NE(output.find("missing.txt"), std::string::npos) << output;
    EXPECT_NE(runCommand(synthCommand(kScorePath, dir.file("out"), "--patterns 0"), output), 0);
    EXPECT_NE(runCommand(std::string("'") + LUMENFALL_SYNTH_EXE + "' --score", output), 0);
}
