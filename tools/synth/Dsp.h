#pragma once
// Small signal-processing building blocks shared by the voices and the effects: a seeded
// noise source, band-limited oscillators, a state-variable filter and a biquad.
// Everything here is deterministic: the same calls give the same samples on every run.

#include <cmath>
#include <cstdint>

namespace dsp {

constexpr double kSampleRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

inline double midiToHz(double note) {
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// xorshift noise with a fixed seed; uniform in [-1, 1).
class Noise {
public:
    explicit Noise(uint32_t seed) : state(seed * 2654435761u + 0x9E3779B9u) {
        if (state == 0) {
            state = 1;
        }
    }
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state) / 2147483648.0 - 1.0;
    }
    double unit() { return 0.5 * (next() + 1.0); } // [0, 1)

private:
    uint32_t state;
};

// PolyBLEP residual for a discontinuity at phase 0 (t in [0, 1), dt = phase step).
inline double polyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

enum class Wave { Saw = 0, Square = 1, Triangle = 2, Sine = 3 };

// Phase-accumulating oscillator; saw and square are PolyBLEP band-limited.
class Oscillator {
public:
    void setPhase(double phase) { position = phase - std::floor(phase); }
    double next(Wave wave, double hz) {
        double dt = hz * (1.0 / kSampleRate);
        dt = dt < 0.49 ? dt : 0.49;
        double t = position;
        double out = 0.0;
        switch (wave) {
        case Wave::Saw:
            out = 2.0 * t - 1.0 - polyBlep(t, dt);
            break;
        case Wave::Square: {
            double t2 = t + 0.5;
            t2 -= std::floor(t2);
            out = (t < 0.5 ? 1.0 : -1.0) + polyBlep(t, dt) - polyBlep(t2, dt);
            break;
        }
        case Wave::Triangle:
            out = 4.0 * std::fabs(t - 0.5) - 1.0;
            break;
        case Wave::Sine:
            out = std::sin(2.0 * kPi * t);
            break;
        }
        position += dt;
        if (position >= 1.0) {
            position -= 1.0;
        }
        return out;
    }

private:
    double position = 0.0;
};

// Topology-preserving state-variable filter; stable under fast cutoff changes.
class Svf {
public:
    void set(double hz, double resonance) {
        hz = std::fmin(std::fmax(hz, 16.0), kSampleRate * 0.45);
        double g = std::tan(kPi * hz / kSampleRate);
        damping = 2.0 - 2.0 * std::fmin(resonance, 0.98);
        a1 = 1.0 / (1.0 + g * (g + damping));
        a2 = g * a1;
        a3 = g * a2;
    }
    // Runs one sample; low, band and high outputs are read after it.
    void run(double v0) {
        double v3 = v0 - ic2;
        double v1 = a1 * ic1 + a2 * v3;
        double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        low = v2;
        band = v1;
        high = v0 - damping * v1 - v2;
    }
    double low = 0.0, band = 0.0, high = 0.0;

private:
    double ic1 = 0.0, ic2 = 0.0;
    double damping = 2.0, a1 = 1.0, a2 = 0.0, a3 = 0.0;
};

// Direct-form biquad; coefficients normalised so a0 = 1.
class Biquad {
public:
    void setCoefficients(double b0, double b1, double b2, double a1, double a2) {
        b0Coefficient = b0;
        b1Coefficient = b1;
        b2Coefficient = b2;
        a1Coefficient = a1;
        a2Coefficient = a2;
    }
    void highPass(double hz, double q) {
        double w = 2.0 * kPi * hz / kSampleRate;
        double alpha = std::sin(w) / (2.0 * q);
        double c = std::cos(w);
        double a0 = 1.0 + alpha;
        setCoefficients((1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0,
                        (1.0 - alpha) / a0);
    }
    double run(double x) {
        double y = b0Coefficient * x + s1;
        s1 = b1Coefficient * x - a1Coefficient * y + s2;
        s2 = b2Coefficient * x - a2Coefficient * y;
        return y;
    }

private:
    double b0Coefficient = 1.0, b1Coefficient = 0.0, b2Coefficient = 0.0, a1Coefficient = 0.0,
           a2Coefficient = 0.0;
    double s1 = 0.0, s2 = 0.0;
};

} // namespace dsp
