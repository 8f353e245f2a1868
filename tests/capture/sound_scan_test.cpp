#include "capture/sound_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class Float>
Bytes floats(std::initializer_list<Float> values) {
    Bytes bytes(values.size() * sizeof(Float));
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

TEST(SoundScan, ASampleThatIsNotZeroIsSoundInEverySampleType) {
    const FormatSummary int8{48000, 2, 8, false};
    const FormatSummary int16{48000, 2, 16, false};
    const FormatSummary int24{48000, 2, 24, false};
    const FormatSummary int32{48000, 2, 32, false};
    const FormatSummary float32{48000, 2, 32, true};
    const FormatSummary float64{48000, 2, 64, true};
    struct Case {
        const char* name;
        FormatSummary format;
        Bytes data;
        std::size_t samples;
        bool sound;
    };
    const Case cases[] = {
        {"16-bit zeros", int16, Bytes(8, 0), 4, false},
        {"16-bit, the last sample's high byte", int16, {0, 0, 0, 0, 0, 0, 0, 0x80}, 4, true},
        {"24-bit zeros", int24, Bytes(6, 0), 2, false},
        {"24-bit, the last sample's low byte", int24, {0, 0, 0, 1, 0, 0}, 2, true},
        {"32-bit integer, the most negative sample", int32, {0, 0, 0, 0x80}, 1, true},
        {"unsigned 8-bit at 128 is silence", int8, {0x80, 0x80, 0x80}, 3, false},
        {"unsigned 8-bit 0 is full scale", int8, {0x80, 0x80, 0x00}, 3, true},
        {"float 0 and -0", float32, floats<float>({0.0f, -0.0f}), 2, false},
        {"float, the smallest normal value", float32, floats<float>({0.0f, 1.17549435e-38f}), 2, true},
        {"double -0", float64, floats<double>({-0.0}), 1, false},
        {"double, a quarter", float64, floats<double>({0.0, -0.25}), 2, true},
        {"sound beyond the samples counted is not read", int16, {0, 0, 0, 0, 1, 0}, 2, false},
    };
    for (const Case& c : cases) {
        const SoundScan scan = chooseSoundScan(c.format);
        ASSERT_NE(scan, nullptr) << c.name;
        EXPECT_EQ(scan(c.data.data(), c.samples), c.sound) << c.name;
    }
}

TEST(SoundScan, FormatsThatDecodeToSilenceHaveNoScan) {
    EXPECT_EQ(chooseSoundScan({48000, 2, 16, true}), nullptr) << "16-bit float";
    EXPECT_EQ(chooseSoundScan({48000, 2, 20, false}), nullptr) << "20-bit integer";
    EXPECT_EQ(chooseSoundScan({48000, 0, 16, false}), nullptr) << "no channels";
}

}  // namespace
