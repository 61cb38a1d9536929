#include "Effects.h"

#include <array>
#include <cmath>
#include <vector>

#include "Dsp.h"

namespace {

using dsp::kSampleRate;

class DelayLine {
public:
    explicit DelayLine(size_t length) : buffer(std::max<size_t>(length, 1), 0.0) {}
    double read() const { return buffer[position]; }
    void write(double x) {
        buffer[position] = x;
        position = position + 1 == buffer.size() ? 0 : position + 1;
    }

private:
    std::vector<double> buffer;
    size_t position = 0;
};

// Schroeder all-pass used to smear the input before it enters the network.
class Diffuser {
public:
    Diffuser(size_t length, double gain) : line(length), feedback(gain) {}
    double run(double x) {
        double delayed = line.read();
        const double fed = x + feedback * delayed;
        line.write(fed);
        return delayed - feedback * fed;
    }

private:
    DelayLine line;
    double feedback;
};

class OnePoleLow {
public:
    void set(double hz) { coefficient = std::exp(-2.0 * dsp::kPi * hz / kSampleRate); }
    double run(double x) {
        state = x + coefficient * (state - x);
        return state;
    }

private:
    double coefficient = 0.0, state = 0.0;
};

} // namespace

void applyReverb(StereoBuffer& bus, const ReverbSettings& settings) {
    constexpr int kLines = 8;
    // Mutually prime lengths (samples) spread the echoes evenly.
    static const size_t kLengths[kLines] = {1531, 1789, 2003, 2273, 2539, 2797, 3089, 3361};
    std::vector<DelayLine> lines;
    std::array<double, kLines> feedback{};
    std::array<OnePoleLow, kLines> damp{};
    for (int k = 0; k < kLines; ++k) {
        lines.emplace_back(kLengths[k]);
        double seconds = kLengths[k] / kSampleRate;
        feedback[k] = std::pow(10.0, -3.0 * seconds / settings.decaySeconds);
        damp[k].set(settings.damping);
    }
    std::vector<Diffuser> diffuseL, diffuseR;
    static const size_t kDiffuse[4] = {142, 107, 379, 277};
    for (int k = 0; k < 4; ++k) {
        diffuseL.emplace_back(kDiffuse[k], 0.62);
        diffuseR.emplace_back(kDiffuse[k] + 23, 0.62);
    }
    DelayLine preL(static_cast<size_t>(settings.preDelay * kSampleRate));
    DelayLine preR(static_cast<size_t>(settings.preDelay * kSampleRate) + 1);
    dsp::Biquad cutL, cutR;
    cutL.highPass(settings.lowCut, 0.707);
    cutR.highPass(settings.lowCut, 0.707);

    std::array<double, kLines> out{};
    for (size_t i = 0; i < bus.frames(); ++i) {
        preL.write(cutL.run(bus.left[i]));
        preR.write(cutR.run(bus.right[i]));
        double inL = preL.read(), inR = preR.read();
        for (Diffuser& d : diffuseL) {
            inL = d.run(inL);
        }
        for (Diffuser& d : diffuseR) {
            inR = d.run(inR);
        }
        for (int k = 0; k < kLines; ++k) {
            out[k] = lines[k].read();
        }
        // Hadamard mix (8 x 8, scaled to stay lossless) by three butterfly stages.
        std::array<double, kLines> mix = out;
        for (int size = 1; size < kLines; size *= 2) {
            for (int start = 0; start < kLines; start += 2 * size) {
                for (int j = start; j < start + size; ++j) {
                    double a = mix[j], b = mix[j + size];
                    mix[j] = a + b;
                    mix[j + size] = a - b;
                }
            }
        }
        const double norm = 1.0 / std::sqrt(8.0);
        for (int k = 0; k < kLines; ++k) {
            double input = (k % 2 == 0 ? inL : inR) * 0.5;
            lines[k].write(input + damp[k].run(mix[k] * norm) * feedback[k]);
        }
        double l = out[0] - out[2] + out[4] - out[6] + 0.5 * (out[1] - out[5]);
        double r = out[1] - out[3] + out[5] - out[7] + 0.5 * (out[2] - out[6]);
        bus.left[i] = static_cast<float>(l * 0.5);
        bus.right[i] = static_cast<float>(r * 0.5);
    }
}

void applyPingPongDelay(StereoBuffer& bus, const DelaySettings& settings) {
    size_t length = static_cast<size_t>(std::lround(settings.seconds * kSampleRate));
    DelayLine left(length), right(length);
    dsp::Svf toneL, toneR;
    toneL.set(settings.highCut, 0.0);
    toneR.set(settings.highCut, 0.0);
    dsp::Biquad lowL, lowR;
    lowL.highPass(settings.lowCut, 0.707);
    lowR.highPass(settings.lowCut, 0.707);
    for (size_t i = 0; i < bus.frames(); ++i) {
        double echoL = left.read(), echoR = right.read();
        double input = lowL.run(0.5 * (bus.left[i] + bus.right[i]));
        toneL.run(echoR);
        toneR.run(echoL);
        left.write(input + settings.feedback * lowR.run(toneL.low));
        right.write(toneR.low);
        bus.left[i] = static_cast<float>(echoL);
        bus.right[i] = static_cast<float>(echoR);
    }
}
