#include "capture/pcm_downconverter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::int16_t> samplesOf(const Bytes& bytes) {
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return samples;
}

Bytes floats(std::initializer_list<float> values) {
    Bytes bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

Bytes doubles(std::initializer_list<double> values) {
    Bytes bytes(values.size() * 8);
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

Bytes int16s(std::initializer_list<std::int16_t> values) {
    Bytes bytes;
    for (std::int16_t v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
    return bytes;
}

// At 16 kHz every frame gives one sample: the frame's quantised mono value.
TEST(PcmDownconverter, DecodesEverySampleTypeOfTheTable) {
    struct Case {
        const char* name;
        FormatSummary format;
        Bytes frame;
        std::int16_t sample;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"float 0.5", {16000, 1, 32, true}, floats({0.5f}), 16383},
        {"float -0.5", {16000, 1, 32, true}, floats({-0.5f}), -16383},
        {"float 1.5 clamps", {16000, 1, 32, true}, floats({1.5f}), 32767},
        {"float -2 clamps", {16000, 1, 32, true}, floats({-2.0f}), -32767},
        {"float not-a-number", {16000, 1, 32, true}, floats({nan}), 0},
        {"float infinity meets a zero weight: not-a-number", {16000, 1, 32, true}, floats({-inf}), 0},
        {"float stereo average", {16000, 2, 32, true}, floats({0.25f, 0.75f}), 16383},
        {"double 0.25", {16000, 1, 64, true}, doubles({0.25}), 8191},
        {"double stereo summed in double", {16000, 2, 64, true}, doubles({1e300, -1e300}), 0},
        {"float of 16 bits is silence", {16000, 1, 16, true}, int16s({12345}), 0},
        {"unsigned 8-bit 255", {16000, 1, 8, false}, {255}, 32511},
        {"unsigned 8-bit 0", {16000, 1, 8, false}, {0}, -32767},
        {"unsigned 8-bit 128", {16000, 1, 8, false}, {128}, 0},
        {"16-bit full scale", {16000, 2, 16, false}, int16s({32767, 32767}), 32766},
        {"16-bit half", {16000, 2, 16, false}, int16s({16384, 16384}), 16383},
        {"16-bit most negative", {16000, 2, 16, false}, int16s({-32768, -32768}), -32767},
        {"24-bit most negative", {16000, 1, 24, false}, {0x00, 0x00, 0x80}, -32767},
        {"24-bit positive", {16000, 1, 24, false}, {0x00, 0x00, 0x40}, 16383},
        {"32-bit half", {16000, 1, 32, false}, {0x00, 0x00, 0x00, 0x40}, 16383},
        {"32-bit most negative", {16000, 1, 32, false}, {0x00, 0x00, 0x00, 0x80}, -32767},
        {"20-bit integer is silence", {16000, 1, 20, false}, {0xFF, 0xFF, 0x7F}, 0},
        {"zero channels is silence", {16000, 0, 16, false}, {}, 0},
    };
    for (const auto& c : cases) {
        PcmDownconverter converter(c.format);
        const Bytes data = c.frame.empty() ? Bytes(1) : c.frame;
        EXPECT_EQ(samplesOf(converter.convert(data.data(), 1, 0)), std::vector<std::int16_t>{c.sample}) << c.name;
    }
}

TEST(PcmDownconverter, WritesLittleEndianTwosComplement) {
    PcmDownconverter converter({16000, 1, 32, true});
    const Bytes data = floats({-1.0f, 0.5f});
    EXPECT_EQ(converter.convert(data.data(), 2, 0), (Bytes{0x01, 0x80, 0xFF, 0x3F}));
}

TEST(PcmDownconverter, PicksEveryThirdFrameAt48kHz) {
    PcmDownconverter converter({48000, 1, 16, false});
    std::vector<std::int16_t> frames(480);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i] = static_cast<std::int16_t>(i * 64);
    }
    Bytes data(frames.size() * 2);
    std::memcpy(data.data(), frames.data(), data.size());
    const auto samples = samplesOf(converter.convert(data.data(), 480, 0));
    ASSERT_EQ(samples.size(), 160u);
    for (std::size_t k = 0; k < samples.size(); ++k) {
        // frame 3k holds 192k / 32768 of full scale; times 32767, truncated.
        EXPECT_EQ(samples[k], static_cast<std::int16_t>(192 * k * 32767 / 32768)) << k;
    }
    EXPECT_EQ(converter.position(), 0.0);
}

TEST(PcmDownconverter, CarriesThePositionAcrossUnevenPacketsAt44100) {
    PcmDownconverter converter({44100, 1, 16, false});
    // Packet of 4: picks at 0 and 2.75625 (between frames 2 and 3); the position moves on to 1.5125.
    const Bytes first = int16s({100, 0, 16384, -16384});
    EXPECT_EQ(samplesOf(converter.convert(first.data(), 4, 0)), (std::vector<std::int16_t>{99, -8396}));
    EXPECT_NEAR(converter.position(), 1.5125, 1e-12);
    // Packet of 5: picks at 1.5125 and 4.26875; the last frame's neighbour is itself.
    const Bytes second = int16s({0, 8192, 32767, 0, -32768});
    EXPECT_EQ(samplesOf(converter.convert(second.data(), 5, 0)), (std::vector<std::int16_t>{20786, -32767}));
    EXPECT_NEAR(converter.position(), 2.025, 1e-12);

    PcmDownconverter whole({44100, 2, 16, false});
    const Bytes silence(441 * 4);
    EXPECT_EQ(whole.convert(silence.data(), 441, 0).size(), 320u);
    EXPECT_NEAR(whole.position(), 0.0, 1e-9);
}

TEST(PcmDownconverter, PacketShorterThanThePositionOnlyMovesItBack) {
    PcmDownconverter converter({56000, 1, 16, false});  // step 3.5
    const Bytes frames = int16s({1000, 1000});
    EXPECT_EQ(converter.convert(frames.data(), 1, 0).size(), 2u);
    EXPECT_EQ(converter.position(), 2.5);
    EXPECT_TRUE(converter.convert(frames.data(), 2, 0).empty());
    EXPECT_EQ(converter.position(), 0.5);
}

TEST(PcmDownconverter, SilentPacketsGiveZerosWithoutReadingData) {
    PcmDownconverter converter({48000, 2, 32, true});
    const Bytes& out = converter.convert(nullptr, 480, kBufferFlagSilent);
    EXPECT_EQ(out, Bytes(320, 0));
    EXPECT_EQ(converter.position(), 0.0);
}

TEST(PcmDownconverter, ZeroSampleRateProducesNothingAndEnds) {
    PcmDownconverter converter({0, 2, 16, false});
    const Bytes data(400);
    EXPECT_TRUE(converter.convert(data.data(), 100, 0).empty());
    EXPECT_EQ(converter.position(), 0.0);
}

TEST(PcmDownconverter, RatesBelowOutputRateRepeatFrames) {
    PcmDownconverter converter({8000, 1, 16, false});  // step 0.5: two samples per frame
    const Bytes data = int16s({16384, -16384});
    EXPECT_EQ(samplesOf(converter.convert(data.data(), 2, 0)), (std::vector<std::int16_t>{16383, 0, -16383, -16383}));
}

}  // namespace
