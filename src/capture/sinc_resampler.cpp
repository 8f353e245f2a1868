#include "capture/sinc_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace {

constexpr std::uint64_t kOutputRate = 16000;
constexpr std::uint32_t kMaxInputRate = 768000;

// The design, at a 16 kHz output: pass band to 7 kHz, stop band from 8.5 kHz, cut-off between.
// 110 dB is far more than the 70 dB a recogniser needs: it is about what speexdsp's quality 5
// rejects, and at 228 taps for 48 kHz the filter still runs faster than that resampler
// (BENCHMARKS.md), so the margin costs nothing a host would notice.
constexpr double kPassEdgeHz = 7000.0;
constexpr double kStopEdgeHz = 8500.0;
constexpr double kAttenuationDb = 110.0;
constexpr double kPi = 3.14159265358979323846;

// A rate with more distinct phases than fit this many coefficients gets an interpolated table.
constexpr std::size_t kMaxExactCoefficients = 65536;
constexpr std::size_t kInterpolatedPhases = 128;

// The modified Bessel function of the first kind, order 0, by Abramowitz and Stegun's
// polynomial approximations 9.8.1 and 9.8.2 (relative error below 2e-7, far under the single
// precision the coefficients are kept in). x >= 0.
double besselI0(double x) {
    if (x < 3.75) {
        const double y = (x / 3.75) * (x / 3.75);
        return 1.0 +
               y * (3.5156229 + y * (3.0899424 + y * (1.2067492 + y * (0.2659732 + y * (0.0360768 + y * 0.0045813)))));
    }
    const double y = 3.75 / x;
    return std::exp(x) / std::sqrt(x) *
           (0.39894228 +
            y * (0.01328592 +
                 y * (0.00225319 +
                      y * (-0.00157565 +
                           y * (0.00916281 +
                                y * (-0.02057706 + y * (0.02635537 + y * (-0.01647633 + y * 0.00392377))))))));
}

struct Design {
    double cutoff;  // cycles per input sample
    double beta;    // Kaiser window shape
    std::size_t taps;
};

// Kaiser's formulas for a window meeting the attenuation over the transition band, both scaled
// to the input rate (or, below 16 kHz, to the input's own band).
Design designFor(std::uint32_t inputRate) {
    const double scale = static_cast<double>(std::max<std::uint64_t>(inputRate, kOutputRate));
    const double transition = 2.0 * kPi * (kStopEdgeHz - kPassEdgeHz) / scale;
    const auto length = static_cast<std::size_t>(std::ceil((kAttenuationDb - 7.95) / (2.285 * transition)));
    return {(kPassEdgeHz + kStopEdgeHz) / 2.0 / scale, 0.1102 * (kAttenuationDb - 8.7), length + (length % 2)};
}

// The filter's impulse response at t input samples from its centre: the ideal low-pass's sinc
// under the Kaiser window, which reaches zero half the filter's length away.
double kernel(const Design& design, double t, double windowNorm) {
    const auto half = static_cast<double>(design.taps / 2);
    const double x = t / half;
    if (std::abs(x) >= 1.0) {
        return 0.0;
    }
    const double window = besselI0(design.beta * std::sqrt(1.0 - x * x)) / windowNorm;
    const double arg = 2.0 * design.cutoff * t;
    const double sinc = t == 0.0 ? 1.0 : std::sin(kPi * arg) / (kPi * arg);
    return 2.0 * design.cutoff * sinc * window;
}

// Stores a row scaled to sum to 1, so that every phase passes a constant unchanged.
void storeRow(const std::vector<double>& values, float* row) {
    const double sum = std::accumulate(values.begin(), values.end(), 0.0);
    for (std::size_t k = 0; k < values.size(); ++k) {
        row[k] = static_cast<float>(values[k] / sum);
    }
}

// Eight partial sums keep the additions independent, which lets the compiler pipeline and
// vectorise them without licence to reorder a single sum.
float dot(const float* a, const float* b, std::size_t n) {
    float s[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (std::size_t j = 0; j < 8; ++j) {
            s[j] += a[i + j] * b[i + j];
        }
    }
    float tail = 0.0f;
    for (; i < n; ++i) {
        tail += a[i] * b[i];
    }
    return ((s[0] + s[4]) + (s[1] + s[5])) + ((s[2] + s[6]) + (s[3] + s[7])) + tail;
}

}  // namespace

bool SincResampler::supports(std::uint32_t inputRate) {
    return inputRate >= 1 && inputRate <= kMaxInputRate;
}

SincResampler::SincResampler(std::uint32_t inputRate) {
    const Design design = designFor(inputRate);
    taps_ = design.taps;
    const std::uint64_t common = std::gcd<std::uint64_t>(inputRate, kOutputRate);
    const std::uint64_t numerator = inputRate / common;
    phases_ = kOutputRate / common;
    stepWhole_ = numerator / phases_;
    stepRemainder_ = numerator % phases_;

    interpolated_ = phases_ * taps_ > kMaxExactCoefficients;
    tableRows_ = interpolated_ ? kInterpolatedPhases + 1 : phases_;
    table_.resize(tableRows_ * taps_);
    // Row p holds the coefficients for an output p / rows of an input sample after the input
    // sample at the window's centre, in the order of the window's input samples.
    const double windowNorm = besselI0(design.beta);
    const std::size_t half = taps_ / 2;
    std::vector<double> values(taps_);
    if (!interpolated_) {
        for (std::size_t row = 0; row < tableRows_; ++row) {
            const double phase = static_cast<double>(row) / static_cast<double>(phases_);
            for (std::size_t k = 0; k < taps_; ++k) {
                values[k] =
                    kernel(design, phase + static_cast<double>(half) - 1.0 - static_cast<double>(k), windowNorm);
            }
            storeRow(values, &table_[row * taps_]);
        }
    } else {
        // The rows sample one even response on a grid of 1 / kInterpolatedPhases: half of it
        // is computed, and each row reads it.
        std::vector<double> grid(half * kInterpolatedPhases + 1);
        for (std::size_t j = 0; j < grid.size(); ++j) {
            grid[j] = kernel(design, static_cast<double>(j) / kInterpolatedPhases, windowNorm);
        }
        for (std::size_t row = 0; row < tableRows_; ++row) {
            for (std::size_t k = 0; k < taps_; ++k) {
                const auto j = static_cast<std::int64_t>(row) +
                               static_cast<std::int64_t>(kInterpolatedPhases) *
                                   (static_cast<std::int64_t>(half) - 1 - static_cast<std::int64_t>(k));
                const auto index = static_cast<std::size_t>(j < 0 ? -j : j);
                values[k] = index < grid.size() ? grid[index] : 0.0;
            }
            storeRow(values, &table_[row * taps_]);
        }
    }

    history_.assign(taps_ - 1, 0.0f);
    nextIndex_ = taps_ - 1;
}

float SincResampler::outputAt(const float* window) const {
    if (!interpolated_) {
        return dot(&table_[phase_ * taps_], window, taps_);
    }
    const double position = static_cast<double>(phase_) * kInterpolatedPhases / static_cast<double>(phases_);
    const auto row = static_cast<std::size_t>(position);
    const auto fraction = static_cast<float>(position - static_cast<double>(row));
    const float a = dot(&table_[row * taps_], window, taps_);
    const float b = dot(&table_[(row + 1) * taps_], window, taps_);
    return a + fraction * (b - a);
}

void SincResampler::process(const float* input, std::size_t frames, std::vector<float>& out) {
    out.clear();
    const std::size_t kept = taps_ - 1;
    history_.resize(kept + frames);
    if (frames > 0) {
        std::memcpy(history_.data() + kept, input, frames * sizeof(float));
    }
    const std::uint64_t available = kept + frames;
    while (nextIndex_ < available) {
        out.push_back(outputAt(&history_[nextIndex_ - kept]));
        nextIndex_ += stepWhole_;
        phase_ += stepRemainder_;
        if (phase_ >= phases_) {
            phase_ -= phases_;
            ++nextIndex_;
        }
    }
    std::memmove(history_.data(), history_.data() + frames, kept * sizeof(float));
    history_.resize(kept);
    nextIndex_ -= frames;
}
