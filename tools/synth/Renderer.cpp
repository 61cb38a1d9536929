#include "Renderer.h"

#include <algorithm>
#include <cmath>

#include "Dsp.h"
#include "Effects.h"
#include "Mastering.h"

namespace {

using dsp::kSampleRate;

constexpr size_t kGainStep = 32; // samples between gain-automation points

uint32_t mixSeed(uint32_t a, uint32_t b) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    return h;
}

// How far each sample is pushed down by the kicks (0 = not at all, 1 = fully): a quick dip
// on every kick that recovers over a fraction of a beat.
std::vector<float> duckShape(const Score& score, const Sequence& seq, size_t frames) {
    std::vector<float> shape(frames, 0.0f);
    const double attack = 0.004, recover = 0.095;
    for (const Note& n : seq.notes) {
        if (score.instruments[n.instrument].type != InstrumentType::Kick) {
            continue;
        }
        size_t first = static_cast<size_t>(std::max(0.0, std::round(n.start * kSampleRate)));
        size_t count = static_cast<size_t>(0.6 * kSampleRate);
        for (size_t i = 0; i < count && first + i < frames; ++i) {
            double t = i / kSampleRate;
            double v = t < attack ? t / attack : std::exp(-(t - attack) / recover);
            v *= std::min(1.0, n.velocity / 0.8);
            shape[first + i] = std::max(shape[first + i], static_cast<float>(std::min(v, 1.0)));
        }
    }
    return shape;
}

// Master fade: a short fade-in against a click at the start, then the written fade-out.
double fadeGain(const Score& score, double length, double t) {
    double g = std::min(1.0, t / 0.01);
    double start = score.fadeEnd > score.fadeStart ? score.fadeStart : length;
    double end = score.fadeEnd > score.fadeStart ? std::min(score.fadeEnd, length) : length;
    if (t >= end) {
        return 0.0;
    }
    if (t > start && end > start) {
        double x = (t - start) / (end - start);
        g *= (1.0 - x) * (1.0 - x);
    }
    return g;
}

} // namespace

std::vector<double> rmsTrack(const StereoBuffer& stem, size_t samples) {
    const size_t n = stem.frames();
    std::vector<double> prefix(n + 1, 0.0);
    for (size_t i = 0; i < n; ++i) {
        double l = stem.left[i], r = stem.right[i];
        prefix[i + 1] = prefix[i] + 0.5 * (l * l + r * r);
    }
    const long half = std::lround(kLevelWindowSeconds * kSampleRate / 2.0);
    std::vector<double> rms(samples, 0.0);
    for (size_t k = 0; k < samples; ++k) {
        long centre = std::lround(k * kLevelStepSeconds * kSampleRate);
        long lo = std::clamp(centre - half, 0L, static_cast<long>(n));
        long hi = std::clamp(centre + half, 0L, static_cast<long>(n));
        if (hi > lo) {
            rms[k] = std::sqrt(std::max(0.0, (prefix[hi] - prefix[lo]) / (hi - lo)));
        }
    }
    return rms;
}

Render renderSong(const Score& score, const Sequence& seq, const RenderOptions& options) {
    Render render;
    const size_t frames = static_cast<size_t>(std::llround(seq.lengthSeconds * kSampleRate));
    const size_t levelSamples =
        static_cast<size_t>(std::floor(seq.lengthSeconds / kLevelStepSeconds + 1e-9)) + 1;

    StereoBuffer& dry = render.mix;
    dry.resize(frames);
    StereoBuffer reverbSend, delaySend, stem, voice;
    reverbSend.resize(frames);
    delaySend.resize(frames);
    stem.resize(frames);
    voice.resize(frames);

    std::vector<float> fade(frames);
    for (size_t i = 0; i < frames; ++i) {
        fade[i] = static_cast<float>(fadeGain(score, seq.lengthSeconds, i / kSampleRate));
    }
    std::vector<float> duck = duckShape(score, seq, frames);

    // Notes grouped by instrument, each keeping its index in the whole song for its seed.
    std::vector<std::vector<size_t>> notesOf(score.instruments.size());
    for (size_t i = 0; i < seq.notes.size(); ++i) {
        notesOf[seq.notes[i].instrument].push_back(i);
    }

    render.levels.assign(kLevelTracks, std::vector<uint16_t>(levelSamples, 0));
    for (int group = -1; group < kLevelTracks; ++group) {
        stem.clear();
        bool any = false;
        for (size_t k = 0; k < score.instruments.size(); ++k) {
            const Instrument& inst = score.instruments[k];
            if (inst.level != group || notesOf[k].empty()) {
                continue;
            }
            any = true;
            voice.clear();
            for (size_t index : notesOf[k]) {
                renderNote(inst, seq.notes[index], seq,
                           mixSeed(score.seed, static_cast<uint32_t>(index)), voice);
            }
            // Gain automation at a coarse rate, interpolated per sample.
            std::vector<double> gains(frames / kGainStep + 2);
            for (size_t j = 0; j < gains.size(); ++j) {
                gains[j] = seq.gainAt(static_cast<int>(k), (j * kGainStep) / kSampleRate);
            }
            const double gain = inst.param("gain"), pan = inst.param("pan");
            const double duckDepth = inst.param("duck");
            const double width = inst.type == InstrumentType::Synth ? 1.0 : inst.param("width");
            const double balanceL = std::min(1.0, 1.0 - pan), balanceR = std::min(1.0, 1.0 + pan);
            const double reverb = inst.param("reverb"), delay = inst.param("delay");
            for (size_t i = 0; i < frames; ++i) {
                double a = gains[i / kGainStep];
                double b = gains[i / kGainStep + 1];
                double autoGain = a + (b - a) * static_cast<double>(i % kGainStep) / kGainStep;
                double g = gain * autoGain * (1.0 - duckDepth * duck[i]);
                double l = voice.left[i], r = voice.right[i];
                double mid = 0.5 * (l + r), side = 0.5 * (l - r) * width;
                l = (mid + side) * g * balanceL;
                r = (mid - side) * g * balanceR;
                stem.left[i] += static_cast<float>(l);
                stem.right[i] += static_cast<float>(r);
                reverbSend.left[i] += static_cast<float>(l * reverb);
                reverbSend.right[i] += static_cast<float>(r * reverb);
                delaySend.left[i] += static_cast<float>(l * delay);
                delaySend.right[i] += static_cast<float>(r * delay);
            }
        }
        for (size_t i = 0; i < frames; ++i) {
            dry.left[i] += stem.left[i];
            dry.right[i] += stem.right[i];
        }
        if (group < 0 || !any) {
            continue;
        }
        for (size_t i = 0; i < frames; ++i) {
            stem.left[i] *= fade[i];
            stem.right[i] *= fade[i];
        }
        std::vector<double> rms = rmsTrack(stem, levelSamples);
        double loudest = *std::max_element(rms.begin(), rms.end());
        if (loudest > 0.0) {
            for (size_t j = 0; j < levelSamples; ++j) {
                double v = std::round(rms[j] / loudest * kLevelPeak * 65536.0);
                render.levels[group][j] = static_cast<uint16_t>(std::clamp(v, 0.0, 65535.0));
            }
        }
    }
    stem = StereoBuffer();
    voice = StereoBuffer();

    // Effects: the delay feeds the reverb a little, both return into the mix.
    applyPingPongDelay(delaySend, DelaySettings{3.0 * score.rowSeconds(), 0.42, 300.0, 4500.0});
    for (size_t i = 0; i < frames; ++i) {
        dry.left[i] += delaySend.left[i];
        dry.right[i] += delaySend.right[i];
        reverbSend.left[i] += 0.25f * delaySend.left[i];
        reverbSend.right[i] += 0.25f * delaySend.right[i];
    }
    delaySend = StereoBuffer();
    applyReverb(reverbSend, ReverbSettings{});
    for (size_t i = 0; i < frames; ++i) {
        dry.left[i] += reverbSend.left[i];
        dry.right[i] += reverbSend.right[i];
    }
    reverbSend = StereoBuffer();

    // Master: no DC or sub-sonic rumble, the fade, then loudness and peaks.
    dsp::Biquad lowCutL, lowCutR;
    lowCutL.highPass(24.0, 0.707);
    lowCutR.highPass(24.0, 0.707);
    for (size_t i = 0; i < frames; ++i) {
        dry.left[i] = static_cast<float>(lowCutL.run(dry.left[i]) * fade[i]);
        dry.right[i] = static_cast<float>(lowCutR.run(dry.right[i]) * fade[i]);
    }
    render.gainDb = master(dry, options.targetLufs, options.ceilingDb);
    render.loudness = integratedLoudness(dry);
    render.peak = truePeak(dry);
    return render;
}
