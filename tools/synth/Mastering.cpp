#include "Mastering.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

#include "Dsp.h"

namespace {

using dsp::kSampleRate;

// The two K-weighting stages (a high shelf near 1.7 kHz and a 38 Hz high-pass),
// derived for the actual sample rate from their analogue prototypes.
void kWeighting(dsp::Biquad& shelf, dsp::Biquad& highPass) {
    {
        const double gainDb = 3.999843853973347, f0 = 1681.974450955533, q = 0.7071752369554196;
        double k = std::tan(dsp::kPi * f0 / kSampleRate);
        double vh = std::pow(10.0, gainDb / 20.0);
        double vb = std::pow(vh, 0.4996667741545416);
        double a0 = 1.0 + k / q + k * k;
        shelf.setCoefficients((vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0,
                              (vh - vb * k / q + k * k) / a0, 2.0 * (k * k - 1.0) / a0,
                              (1.0 - k / q + k * k) / a0);
    }
    {
        const double f0 = 38.13547087602444, q = 0.5003270373238773;
        double k = std::tan(dsp::kPi * f0 / kSampleRate);
        double a0 = 1.0 + k / q + k * k;
        highPass.setCoefficients(1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0,
                                 (1.0 - k / q + k * k) / a0);
    }
}

// Interpolation taps for the points a quarter, half and three quarters between samples:
// a Hann-windowed sinc, 16 taps each.
struct Interpolator {
    static constexpr int kTaps = 16;
    double taps[3][kTaps];
    Interpolator() {
        for (int phase = 0; phase < 3; ++phase) {
            double frac = (phase + 1) / 4.0;
            double sum = 0.0;
            for (int k = 0; k < kTaps; ++k) {
                double distance = (k - kTaps / 2 + 1) - frac; // from the tap to the point
                double sinc = std::fabs(distance) < 1e-12
                                  ? 1.0
                                  : std::sin(dsp::kPi * distance) / (dsp::kPi * distance);
                double window = 0.5 + 0.5 * std::cos(dsp::kPi * distance / (kTaps / 2));
                taps[phase][k] = sinc * window;
                sum += taps[phase][k];
            }
            for (int k = 0; k < kTaps; ++k) {
                taps[phase][k] /= sum;
            }
        }
    }
    // Peak of the channel around sample i, between-sample points included.
    double peakAt(const std::vector<float>& samples, size_t i) const {
        double peak = std::fabs(samples[i]);
        if (i + kTaps / 2 >= samples.size() || i < kTaps / 2 - 1) {
            return peak;
        }
        for (int phase = 0; phase < 3; ++phase) {
            double interpolated = 0.0;
            const float* base = &samples[i - (kTaps / 2 - 1)];
            for (int k = 0; k < kTaps; ++k) {
                interpolated += taps[phase][k] * base[k];
            }
            peak = std::max(peak, std::fabs(interpolated));
        }
        return peak;
    }
};

std::vector<double> peakEnvelope(const StereoBuffer& audio) {
    static const Interpolator interp;
    std::vector<double> peaks(audio.frames());
    for (size_t i = 0; i < audio.frames(); ++i) {
        peaks[i] = std::max(interp.peakAt(audio.left, i), interp.peakAt(audio.right, i));
    }
    return peaks;
}

} // namespace

double integratedLoudness(const StereoBuffer& audio) {
    const size_t block = static_cast<size_t>(0.4 * kSampleRate);
    const size_t hop = block / 4;
    if (audio.frames() < block) {
        return -100.0;
    }
    // Sum of squares of the weighted signal over each 100 ms quarter block.
    size_t quarters = audio.frames() / hop;
    std::vector<double> energy(quarters, 0.0);
    const std::vector<float>* channels[2] = {&audio.left, &audio.right};
    for (const std::vector<float>* channel : channels) {
        dsp::Biquad shelf, highPass;
        kWeighting(shelf, highPass);
        for (size_t quarter = 0; quarter < quarters; ++quarter) {
            double sum = 0.0;
            for (size_t i = quarter * hop; i < (quarter + 1) * hop; ++i) {
                double weighted = highPass.run(shelf.run((*channel)[i]));
                sum += weighted * weighted;
            }
            energy[quarter] += sum;
        }
    }
    std::vector<double> blocks;
    for (size_t quarter = 0; quarter + 4 <= quarters; ++quarter) {
        double mean =
            (energy[quarter] + energy[quarter + 1] + energy[quarter + 2] + energy[quarter + 3]) /
            block;
        blocks.push_back(mean);
    }
    auto loudness = [](double meanSquare) {
        return -0.691 + 10.0 * std::log10(std::max(meanSquare, 1e-20));
    };
    double sum = 0.0;
    size_t count = 0;
    for (double blockMean : blocks) {
        if (loudness(blockMean) > -70.0) {
            sum += blockMean;
            ++count;
        }
    }
    if (count == 0) {
        return -100.0;
    }
    double relativeGate = loudness(sum / count) - 10.0;
    sum = 0.0;
    count = 0;
    for (double blockMean : blocks) {
        if (loudness(blockMean) > -70.0 && loudness(blockMean) > relativeGate) {
            sum += blockMean;
            ++count;
        }
    }
    return count == 0 ? -100.0 : loudness(sum / count);
}

double truePeak(const StereoBuffer& audio) {
    std::vector<double> peaks = peakEnvelope(audio);
    double peak = 0.0;
    for (double framePeak : peaks) {
        peak = std::max(peak, framePeak);
    }
    return peak;
}

void limitPeaks(StereoBuffer& audio, double ceiling) {
    limitPeaks(audio, ceiling, peakEnvelope(audio), 1.0);
}

void limitPeaks(StereoBuffer& audio, double ceiling, const std::vector<double>& unscaledPeaks,
                double scale) {
    const size_t frames = audio.frames();
    if (frames == 0 || unscaledPeaks.size() != frames) {
        return;
    }
    const size_t lookahead = static_cast<size_t>(0.004 * kSampleRate);
    const double release = 1.0 - std::exp(-1.0 / (0.12 * kSampleRate));
    const std::vector<double>& peaks = unscaledPeaks;

    // Gain each sample needs on its own.
    std::vector<double> need(frames);
    for (size_t i = 0; i < frames; ++i) {
        const double scaled = peaks[i] * scale;
        need[i] = scaled > ceiling ? ceiling / scaled : 1.0;
    }
    // Minimum over the next `lookahead` samples (monotonic queue), then instant attack and
    // exponential release.
    std::vector<double> held(frames);
    std::deque<size_t> window;
    size_t next = 0;
    for (size_t i = 0; i < frames; ++i) {
        while (next < frames && next < i + lookahead) {
            while (!window.empty() && need[window.back()] >= need[next]) {
                window.pop_back();
            }
            window.push_back(next);
            ++next;
        }
        while (window.front() < i) {
            window.pop_front();
        }
        held[i] = need[window.front()];
    }
    double envelope = 1.0;
    for (size_t i = 0; i < frames; ++i) {
        envelope = held[i] < envelope ? held[i] : envelope + (held[i] - envelope) * release;
        held[i] = envelope;
    }
    // A moving average over the look-ahead keeps every sample under its own need, because
    // all of the averaged gains already saw that sample coming.
    double sum = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        sum += held[i];
        if (i >= lookahead) {
            sum -= held[i - lookahead];
        }
        double count = static_cast<double>(std::min(i + 1, lookahead));
        double gain = std::min(sum / count, 1.0);
        audio.left[i] = static_cast<float>(audio.left[i] * gain);
        audio.right[i] = static_cast<float>(audio.right[i] * gain);
    }
}

double master(StereoBuffer& audio, double targetLufs, double ceilingDb) {
    const double ceiling = std::pow(10.0, ceilingDb / 20.0);
    double measured = integratedLoudness(audio);
    if (measured < -90.0) {
        return 0.0;
    }
    // Limiting lowers the loudness a little; aim again from the limited result.
    double gainDb = targetLufs - measured;
    StereoBuffer original = audio;
    // Interpolated peaks scale with the gain, so they are found once.
    const std::vector<double> peaks = peakEnvelope(original);
    for (int pass = 0; pass < 4; ++pass) {
        audio = original;
        float linearGain = static_cast<float>(std::pow(10.0, gainDb / 20.0));
        for (size_t i = 0; i < audio.frames(); ++i) {
            audio.left[i] *= linearGain;
            audio.right[i] *= linearGain;
        }
        limitPeaks(audio, ceiling, peaks, linearGain);
        double error = targetLufs - integratedLoudness(audio);
        if (std::fabs(error) < 0.05) {
            break;
        }
        gainDb += error;
    }
    return gainDb;
}
