#include "Voices.h"

#include <algorithm>
#include <cmath>

#include "Dsp.h"

namespace {

using dsp::kPi;
using dsp::kSampleRate;

constexpr double kMinAttack = 0.002; // every note fades in at least this long: no clicks
constexpr double kEndFade = 0.005;   // and fades out this long at the end of its tail
constexpr int kControlRate = 16;     // samples between filter updates

// Linear attack, exponential decay to the sustain level, exponential release after the gate.
// Stepped one sample at a time: the exponentials become one multiply each.
class Adsr {
public:
    Adsr(double attack, double decay, double sustain, double release, double gate)
        : attackStep(1.0 / (std::max(attack, kMinAttack) * kSampleRate)),
          decayFactor(std::exp(-1.0 / (decay * kSampleRate))),
          releaseFactor(std::exp(-1.0 / (release * kSampleRate))), sustainLevel(sustain),
          gateSamples(static_cast<long>(std::llround(gate * kSampleRate))) {}
    double next() {
        if (samplesDone < gateSamples) {
            if (attacking) {
                level += attackStep;
                if (level >= 1.0) {
                    level = 1.0;
                    attacking = false;
                }
            } else {
                level = sustainLevel + (level - sustainLevel) * decayFactor;
            }
        } else {
            level *= releaseFactor;
        }
        ++samplesDone;
        return level;
    }

private:
    double attackStep, decayFactor, releaseFactor, sustainLevel;
    long gateSamples;
    long samplesDone = 0;
    double level = 0.0;
    bool attacking = true;
};

// Gain that removes the step at the very end of a rendered tail.
double endFade(double t, double length) {
    double left = length - t;
    return left >= kEndFade ? 1.0 : std::max(0.0, left / kEndFade);
}

struct Span {
    size_t first = 0;
    size_t count = 0;
};

Span spanOf(double start, double length, size_t frames) {
    Span s;
    double f = std::round(start * kSampleRate);
    if (f < 0 || f >= static_cast<double>(frames)) {
        return s;
    }
    s.first = static_cast<size_t>(f);
    size_t n = static_cast<size_t>(std::ceil(length * kSampleRate));
    s.count = std::min(n, frames - s.first);
    return s;
}

void renderKick(const Instrument& inst, const Note& note, StereoBuffer& out, uint32_t seed) {
    double end = inst.param("pitch"), punch = inst.param("punch"), bend = inst.param("bend");
    double decay = inst.param("decay"), click = inst.param("click"), drive = inst.param("drive");
    double length = noteTailSeconds(inst, note);
    Span span = spanOf(note.start, length, out.frames());
    dsp::Noise noise(seed);
    dsp::Svf clickFilter;
    clickFilter.set(3500.0, 0.3);
    double phase = 0.0;
    double norm = drive > 0 ? 1.0 / std::tanh(1.0 + drive) : 1.0;
    for (size_t i = 0; i < span.count; ++i) {
        double t = i / kSampleRate;
        double hz = end + (punch - end) * std::exp(-t / bend);
        phase += hz / kSampleRate;
        phase -= std::floor(phase);
        double amp = std::min(1.0, t / 0.001) * std::exp(-t / decay);
        double body = std::sin(2.0 * kPi * phase) * amp;
        clickFilter.run(noise.next());
        double clk = clickFilter.band * click * std::exp(-t / 0.004);
        double x = body + clk;
        if (drive > 0) {
            x = std::tanh(x * (1.0 + drive)) * norm;
        }
        x *= note.velocity * endFade(t, length);
        out.left[span.first + i] += static_cast<float>(x);
        out.right[span.first + i] += static_cast<float>(x);
    }
}

void renderSnare(const Instrument& inst, const Note& note, StereoBuffer& out, uint32_t seed) {
    double tone = inst.param("tone"), decay = inst.param("decay");
    double body = inst.param("body"), snap = inst.param("snap");
    double length = noteTailSeconds(inst, note);
    Span span = spanOf(note.start, length, out.frames());
    dsp::Noise noiseL(seed), noiseR(seed + 7919);
    dsp::Svf bandL, bandR, highL, highR;
    bandL.set(4200.0, 0.2);
    bandR.set(4200.0, 0.2);
    highL.set(900.0, 0.0);
    highR.set(900.0, 0.0);
    double phase = 0.0;
    for (size_t i = 0; i < span.count; ++i) {
        double t = i / kSampleRate;
        double attack = std::min(1.0, t / 0.0008);
        double hz = tone * (1.0 + 0.6 * std::exp(-t / 0.012));
        phase += hz / kSampleRate;
        phase -= std::floor(phase);
        double shell = std::sin(2.0 * kPi * phase) * body * std::exp(-t / 0.045);
        double envNoise = snap * std::exp(-t / decay);
        bandL.run(noiseL.next());
        bandR.run(noiseR.next());
        highL.run(bandL.band + 0.5 * bandL.high);
        highR.run(bandR.band + 0.5 * bandR.high);
        double g = attack * note.velocity * endFade(t, length);
        out.left[span.first + i] += static_cast<float>((shell + highL.high * envNoise) * g);
        out.right[span.first + i] += static_cast<float>((shell + highR.high * envNoise) * g);
    }
}

void renderClap(const Instrument& inst, const Note& note, StereoBuffer& out, uint32_t seed) {
    double decay = inst.param("decay"), tone = inst.param("tone");
    double length = noteTailSeconds(inst, note);
    Span span = spanOf(note.start, length, out.frames());
    dsp::Noise noiseL(seed), noiseR(seed + 104729);
    dsp::Svf bandL, bandR;
    bandL.set(tone, 0.45);
    bandR.set(tone * 1.06, 0.45);
    const double bursts[3] = {0.0, 0.0105, 0.0215};
    for (size_t i = 0; i < span.count; ++i) {
        double t = i / kSampleRate;
        double env = 0.0;
        for (double b : bursts) {
            if (t >= b) {
                env += std::exp(-(t - b) / 0.0045) * std::min(1.0, (t - b) / 0.0005);
            }
        }
        if (t >= 0.028) {
            env += 0.8 * std::exp(-(t - 0.028) / decay);
        }
        bandL.run(noiseL.next());
        bandR.run(noiseR.next());
        double g = 2.2 * env * note.velocity * endFade(t, length);
        out.left[span.first + i] += static_cast<float>(bandL.band * g);
        out.right[span.first + i] += static_cast<float>(bandR.band * g);
    }
}

void renderHat(const Instrument& inst, const Note& note, StereoBuffer& out, uint32_t seed) {
    double decay = inst.param("decay"), tone = inst.param("tone"), metal = inst.param("metal");
    double length = noteTailSeconds(inst, note);
    Span span = spanOf(note.start, length, out.frames());
    static const double kRatios[6] = {263.0, 400.0, 421.0, 474.0, 587.0, 845.0};
    dsp::Oscillator squares[6];
    dsp::Noise noise(seed);
    for (int k = 0; k < 6; ++k) {
        squares[k].setPhase(noise.unit());
    }
    dsp::Svf band, high;
    band.set(tone * 1.25, 0.35);
    high.set(tone, 0.1);
    double scale = tone / 8000.0 * 1.7;
    for (size_t i = 0; i < span.count; ++i) {
        double t = i / kSampleRate;
        double m = 0.0;
        for (int k = 0; k < 6; ++k) {
            m += squares[k].next(dsp::Wave::Square, kRatios[k] * scale);
        }
        double x = metal * m / 6.0 + (1.0 - metal) * noise.next();
        band.run(x);
        high.run(band.band + 0.6 * band.high);
        double env = std::min(1.0, t / 0.0005) * std::exp(-t / decay);
        double y = high.high * env * note.velocity * endFade(t, length) * 1.4;
        out.left[span.first + i] += static_cast<float>(y);
        out.right[span.first + i] += static_cast<float>(y);
    }
}

void renderSynth(const Instrument& inst, const Note& note, const Sequence& seq, StereoBuffer& out,
                 uint32_t seed) {
    const dsp::Wave wave = static_cast<dsp::Wave>(static_cast<int>(inst.param("wave")));
    const int voices = std::clamp(static_cast<int>(inst.param("voices")), 1, 9);
    const double detune = inst.param("detune"), sub = inst.param("sub");
    const double noiseLevel = inst.param("noise"), cutoff = inst.param("cutoff");
    const double reso = inst.param("reso"), envAmount = inst.param("envamt");
    const double keytrack = inst.param("keytrack"), glide = inst.param("glide");
    const double vibrato = inst.param("vibrato"), vibRate = inst.param("vibrate");
    const double drive = inst.param("drive"), width = inst.param("width");
    const double fAttack = std::max(inst.param("fattack"), 0.0005);
    const double fDecay = inst.param("fdecay");
    Adsr amp(inst.param("attack"), inst.param("decay"), inst.param("sustain"),
             inst.param("release"), note.duration);
    double length = noteTailSeconds(inst, note);
    Span span = spanOf(note.start, length, out.frames());

    dsp::Noise noise(seed);
    dsp::Oscillator osc[9];
    double offsets[9];
    double panL[9], panR[9];
    for (int v = 0; v < voices; ++v) {
        osc[v].setPhase(voices > 1 ? noise.unit() : 0.0);
        double spread = voices > 1 ? 2.0 * v / (voices - 1) - 1.0 : 0.0;
        // Cents to a frequency ratio; the outer voices detune the most.
        offsets[v] = std::pow(2.0, detune * spread / 1200.0);
        double pan = spread * width;
        double angle = (pan + 1.0) * kPi / 4.0;
        panL[v] = std::cos(angle) * std::sqrt(2.0);
        panR[v] = std::sin(angle) * std::sqrt(2.0);
    }
    dsp::Oscillator subOsc;
    dsp::Svf filterL, filterR;
    const double voiceNorm = 1.0 / std::sqrt(static_cast<double>(voices));
    const double driveNorm = drive > 0 ? 1.0 / std::tanh(1.0 + drive) : 1.0;
    const double from = note.previousPitch >= 0 ? note.previousPitch : note.pitch;
    const double keyOctaves = keytrack * (note.pitch - 60) / 12.0;
    const double steadyHz = dsp::midiToHz(note.pitch);

    for (size_t i = 0; i < span.count; ++i) {
        double t = i / kSampleRate;
        // Pitch moves only with glide and vibrato; otherwise the frequency is fixed.
        double hz = steadyHz;
        bool gliding = glide > 0 && from != note.pitch && t < glide * 12.0;
        if (gliding || (vibrato > 0 && t > 0.25)) {
            double pitch = note.pitch;
            if (gliding) {
                pitch += (from - note.pitch) * std::exp(-t / glide);
            }
            if (vibrato > 0) {
                double depth = vibrato * std::min(1.0, std::max(0.0, (t - 0.25) / 0.4));
                pitch += depth / 100.0 * std::sin(2.0 * kPi * vibRate * t);
            }
            hz = dsp::midiToHz(pitch);
        }
        if (i % kControlRate == 0) {
            double fenv = t < fAttack ? t / fAttack : std::exp(-(t - fAttack) / fDecay);
            double octaves =
                envAmount * fenv + keyOctaves + seq.cutoffAt(note.instrument, note.start + t);
            double fc = cutoff * std::pow(2.0, octaves);
            filterL.set(fc, reso);
            filterR.set(fc, reso);
        }
        double l = 0.0, r = 0.0;
        for (int v = 0; v < voices; ++v) {
            double s = osc[v].next(wave, hz * offsets[v]);
            l += s * panL[v];
            r += s * panR[v];
        }
        l *= voiceNorm;
        r *= voiceNorm;
        double common = 0.0;
        if (sub > 0) {
            common += sub * subOsc.next(dsp::Wave::Sine, hz * 0.5);
        }
        if (noiseLevel > 0) {
            common += noiseLevel * noise.next();
        }
        l += common;
        r += common;
        filterL.run(l);
        filterR.run(r);
        l = filterL.low;
        r = filterR.low;
        if (drive > 0) {
            l = std::tanh(l * (1.0 + drive)) * driveNorm;
            r = std::tanh(r * (1.0 + drive)) * driveNorm;
        }
        double g = amp.next() * note.velocity * endFade(t, length);
        out.left[span.first + i] += static_cast<float>(l * g);
        out.right[span.first + i] += static_cast<float>(r * g);
    }
}

void renderNoise(const Instrument& inst, const Note& note, const Sequence& seq, StereoBuffer& out,
                 uint32_t seed) {
    const int mode = static_cast<int>(inst.param("filter"));
    const double cutoff = inst.param("cutoff"), reso = inst.param("reso");
    const double width = inst.param("width");
    Adsr amp(inst.param("attack"), inst.param("decay"), inst.param("sustain"),
             inst.param("release"), note.duration);
    double length = noteTailSeconds(inst, note);
    Span span = spanOf(note.start, length, out.frames());
    dsp::Noise noiseL(seed), noiseR(seed ^ 0x5bd1e995u);
    dsp::Svf filterL, filterR;
    for (size_t i = 0; i < span.count; ++i) {
        double t = i / kSampleRate;
        if (i % kControlRate == 0) {
            double fc = cutoff * std::pow(2.0, seq.cutoffAt(note.instrument, note.start + t));
            filterL.set(fc, reso);
            filterR.set(fc, reso);
        }
        double a = noiseL.next(), b = noiseR.next();
        double mid = 0.5 * (a + b), side = 0.5 * (a - b) * width;
        filterL.run(mid + side);
        filterR.run(mid - side);
        double l = mode == 0 ? filterL.low : mode == 1 ? filterL.band : filterL.high;
        double r = mode == 0 ? filterR.low : mode == 1 ? filterR.band : filterR.high;
        double g = amp.next() * note.velocity * endFade(t, length);
        out.left[span.first + i] += static_cast<float>(l * g);
        out.right[span.first + i] += static_cast<float>(r * g);
    }
}

} // namespace

double noteTailSeconds(const Instrument& inst, const Note& note) {
    switch (inst.type) {
    case InstrumentType::Kick:
        return std::max(inst.param("decay") * 7.0, 0.05);
    case InstrumentType::Snare:
        return std::max(inst.param("decay"), 0.045) * 7.0;
    case InstrumentType::Clap:
        return 0.03 + inst.param("decay") * 7.0;
    case InstrumentType::Hat:
        return inst.param("decay") * 7.0;
    case InstrumentType::Synth:
    case InstrumentType::Noise:
        return note.duration + inst.param("release") * 6.0;
    }
    return 0.0;
}

void renderNote(const Instrument& inst, const Note& note, const Sequence& seq, uint32_t noteSeed,
                StereoBuffer& out) {
    switch (inst.type) {
    case InstrumentType::Kick:
        renderKick(inst, note, out, noteSeed);
        break;
    case InstrumentType::Snare:
        renderSnare(inst, note, out, noteSeed);
        break;
    case InstrumentType::Clap:
        renderClap(inst, note, out, noteSeed);
        break;
    case InstrumentType::Hat:
        renderHat(inst, note, out, noteSeed);
        break;
    case InstrumentType::Synth:
        renderSynth(inst, note, seq, out, noteSeed);
        break;
    case InstrumentType::Noise:
        renderNoise(inst, note, seq, out, noteSeed);
        break;
    }
}
