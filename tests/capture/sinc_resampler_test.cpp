#include "capture/sinc_resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "capture/pcm_downconverter.h"
#include "support/tone_measure.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<float> tone(double hz, std::uint32_t rate, std::size_t frames) {
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<float>(0.5 * std::sin(2.0 * kPi * hz * static_cast<double>(i) / rate));
    }
    return samples;
}

// Where a tone lands in the 16 kHz output: folded into 0..8 kHz.
double outputFrequency(double hz) {
    const double folded = std::fmod(hz, 16000.0);
    return folded > 8000.0 ? 16000.0 - folded : folded;
}

// The filter's gain in dB for a tone of 0.5, measured on 8,192 outputs after the start-up.
double gainDb(std::uint32_t rate, double hz) {
    SincResampler resampler(rate);
    std::vector<float> out;
    resampler.process(tone(hz, rate, rate * 3 / 4).data(), rate * 3 / 4, out);
    const std::vector<float> steady(out.begin() + 1000, out.begin() + 1000 + 8192);
    return 20.0 * std::log10(tone_measure::amplitudeAt(steady, outputFrequency(hz), 16000.0) / 0.5);
}

TEST(SincResampler, FlatToSevenKilohertzAndSeventyDecibelsDownFromEightAndAHalf) {
    struct Row {
        std::uint32_t rate;
        double hz;
        double minDb;
        double maxDb;
    };
    const Row rows[] = {
        {48000, 1000, -0.1, 0.1},
        {48000, 6000, -0.1, 0.1},
        {48000, 7000, -0.1, 0.1},
        {48000, 7750, -9.0, -3.0},
        {48000, 8500, -400, -70},
        {48000, 12000, -400, -70},
        {48000, 20000, -400, -70},
        {48000, 23900, -400, -70},
        {44100, 440, -0.1, 0.1},
        {44100, 7000, -0.1, 0.1},
        {44100, 7750, -9.0, -3.0},
        {44100, 8500, -400, -70},
        {44100, 15000, -400, -70},
        {44100, 22000, -400, -70},
        {96000, 3000, -0.1, 0.1},
        {96000, 7000, -0.1, 0.1},
        {96000, 8500, -400, -70},
        {96000, 31000, -400, -70},
        {96000, 47000, -400, -70},
        {22050, 2000, -0.1, 0.1},
        {22050, 7000, -0.1, 0.1},
        {22050, 7750, -9.0, -3.0},
        {22050, 8500, -400, -70},
        {22050, 10900, -400, -70},
        // A rate with too many phases for a row each: the rows are interpolated.
        {47999, 7000, -0.1, 0.1},
        {47999, 8500, -400, -70},
        {47999, 21000, -400, -70},
    };
    for (const Row& row : rows) {
        const double db = gainDb(row.rate, row.hz);
        EXPECT_GE(db, row.minDb) << row.rate << " Hz input, " << row.hz << " Hz tone";
        EXPECT_LE(db, row.maxDb) << row.rate << " Hz input, " << row.hz << " Hz tone";
    }
}

TEST(SincResampler, UnevenBlocksGiveTheSamplesOfOneLongBlock) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> input(20000);
    for (float& sample : input) {
        sample = value(random);
    }
    // 44.1 kHz has one coefficient row per phase; 47,999 Hz interpolates between rows.
    for (const std::uint32_t rate : {44100u, 47999u, 8000u}) {
        SincResampler whole(rate);
        std::vector<float> expected;
        whole.process(input.data(), input.size(), expected);

        SincResampler pieces(rate);
        std::vector<float> got;
        std::vector<float> out;
        std::size_t offset = 0;
        for (std::size_t size : {1u, 0u, 440u, 441u, 7u, 3000u, 1u}) {
            pieces.process(input.data() + offset, size, out);
            got.insert(got.end(), out.begin(), out.end());
            offset += size;
        }
        pieces.process(input.data() + offset, input.size() - offset, out);
        got.insert(got.end(), out.begin(), out.end());
        EXPECT_EQ(got, expected) << rate;
    }
    EXPECT_TRUE(SincResampler(44100).exactPhases());
    EXPECT_FALSE(SincResampler(47999).exactPhases());
}

TEST(SincResampler, GivesAsManySamplesAsTheLinearPathForEveryBlock) {
    // 44.1 kHz: output n is due once input frame floor(n * 441 / 160) has arrived.
    SincResampler resampler(44100);
    const std::vector<float> input(889, 0.25f);
    std::vector<float> out;
    std::size_t offset = 0;
    for (const auto& [frames, outputs] : {std::pair{1u, 1u}, {440u, 159u}, {441u, 160u}, {7u, 3u}}) {
        resampler.process(input.data() + offset, frames, out);
        EXPECT_EQ(out.size(), outputs) << "after " << offset + frames << " frames";
        offset += frames;
    }
    EXPECT_NEAR(out.back(), 0.25f, 1e-6f) << "unity gain at DC";
}

TEST(SincResampler, SilentPacketsGiveZerosAndRatesOutOfRangeFallBackToLinear) {
    FormatSummary format{48000, 2, 32, true};
    PcmDownconverter converter(format, ResampleQuality::High);
    ASSERT_TRUE(converter.filtered());
    std::vector<std::uint8_t> noise(480 * 8);
    std::mt19937 random(3);
    for (auto& byte : noise) {
        byte = static_cast<std::uint8_t>(random());
    }
    for (int packet = 0; packet < 3; ++packet) {
        const auto& out = converter.convert(noise.data(), 480, kBufferFlagSilent);
        EXPECT_EQ(out, std::vector<std::uint8_t>(320, 0)) << packet;
    }
    EXPECT_FALSE(PcmDownconverter(FormatSummary{0, 2, 32, true}, ResampleQuality::High).filtered());
    EXPECT_FALSE(PcmDownconverter(FormatSummary{768001, 2, 32, true}, ResampleQuality::High).filtered());
    EXPECT_TRUE(PcmDownconverter(FormatSummary{8000, 1, 16, false}, ResampleQuality::High).filtered());
}

}  // namespace
