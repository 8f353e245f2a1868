#pragma once

// Measures one sinusoid in a signal, far enough below it for stop-band figures.

#include <cmath>
#include <vector>

namespace tone_measure {

// The amplitude of the sinusoid at hz in samples taken at rate, through a four-term
// Blackman-Harris window (side lobes 92 dB down).
inline double amplitudeAt(const std::vector<float>& samples, double hz, double rate) {
    constexpr double kPi = 3.14159265358979323846;
    double re = 0.0;
    double im = 0.0;
    double windowSum = 0.0;
    const auto n = static_cast<double>(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double x = 2.0 * kPi * static_cast<double>(i) / (n - 1.0);
        const double w = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
        const double phase = 2.0 * kPi * hz * static_cast<double>(i) / rate;
        re += w * samples[i] * std::cos(phase);
        im += w * samples[i] * std::sin(phase);
        windowSum += w;
    }
    return 2.0 * std::hypot(re, im) / windowSum;
}

}  // namespace tone_measure
