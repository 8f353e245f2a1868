#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Resamples a mono stream to 16 kHz through a low-pass windowed-sinc filter (Kaiser window), in
// polyphase form: the pass band is flat to 7 kHz and everything from 8.5 kHz up is over 100 dB
// down, so nothing above the output's band folds into it. An input below 16 kHz is
// interpolated through the same design scaled to its own rate.
//
// Output n is the filtered input at input time n * rate / 16000 - delay, where the delay is
// half the filter's length in input samples: the stream starts with the filter's delay, and
// after any number of input frames there are exactly as many outputs as the linear converter
// gives. The position and the last input samples carry across blocks, so blocks of any sizes
// give the samples one long block gives, to the bit.
class SincResampler {
public:
    // Rates from 1 Hz to 768 kHz; others are refused (see supports()).
    explicit SincResampler(std::uint32_t inputRate);

    static bool supports(std::uint32_t inputRate);

    // Filters a block of input samples and replaces out's contents with the outputs it
    // completes. Nothing is allocated once a block of this size has been seen.
    void process(const float* input, std::size_t frames, std::vector<float>& out);

    std::size_t taps() const { return taps_; }
    // The group delay, in input samples.
    std::size_t delayFrames() const { return taps_ / 2; }
    // Whether the filter has one coefficient row per output phase (every usual rate) or
    // interpolates between rows of a finer table (rates with many distinct phases).
    bool exactPhases() const { return !interpolated_; }

private:
    float outputAt(const float* window) const;

    std::size_t taps_ = 0;
    // The step between outputs in input samples is stepWhole_ + stepRemainder_ / phases_.
    std::uint64_t stepWhole_ = 0;
    std::uint64_t stepRemainder_ = 0;
    std::uint64_t phases_ = 1;
    bool interpolated_ = false;
    std::size_t tableRows_ = 0;
    std::vector<float> table_;  // tableRows_ rows of taps_ coefficients

    // The last taps_ - 1 input samples, then the current block.
    std::vector<float> history_;
    // The next output: the index in history_ of its last input sample, and its phase.
    std::uint64_t nextIndex_ = 0;
    std::uint64_t phase_ = 0;
};
