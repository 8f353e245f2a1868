#pragma once

// Signals the audio engine double plays, shared with the tests that compute what the
// program must write for them. Nothing here knows how the program converts audio.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace test_signal {

constexpr double kPi = 3.14159265358979323846;

// Sample n of a sine tone, the same on every channel.
inline double toneValue(double hz, double amplitude, std::uint32_t rate, std::uint64_t n) {
    return amplitude * std::sin(2.0 * kPi * hz * static_cast<double>(n) / rate);
}

// Stores one value in the sample type of the format, little-endian.
inline void appendSample(std::vector<std::uint8_t>& out, double value, std::uint16_t bits, bool isFloat) {
    if (isFloat && bits == 32) {
        const auto f = static_cast<float>(value);
        std::uint8_t bytes[4];
        std::memcpy(bytes, &f, 4);
        out.insert(out.end(), bytes, bytes + 4);
        return;
    }
    if (isFloat && bits == 64) {
        std::uint8_t bytes[8];
        std::memcpy(bytes, &value, 8);
        out.insert(out.end(), bytes, bytes + 8);
        return;
    }
    if (bits == 8) {
        out.push_back(static_cast<std::uint8_t>(std::lround(value * 127.0) + 128));
        return;
    }
    const double fullScale = std::ldexp(1.0, bits - 1) - 1.0;
    const auto integer = static_cast<std::int64_t>(std::llround(value * fullScale));
    for (int byte = 0; byte < bits / 8; ++byte) {
        out.push_back(static_cast<std::uint8_t>((static_cast<std::uint64_t>(integer) >> (8 * byte)) & 0xFF));
    }
}

// Raw sample bytes of a packet of pseudo-random noise: every bit pattern is possible.
inline std::vector<std::uint8_t> randomBytes(std::uint32_t seed, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t state = seed == 0 ? 0x9E3779B9u : seed;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

}  // namespace test_signal
