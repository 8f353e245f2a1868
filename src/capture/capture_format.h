#pragma once

#include <cstdint>
#include <string>

// What the converter needs to know of the capture format, read once before the format is freed.
struct FormatSummary {
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 0;
    std::uint16_t bitsPerSample = 0;
    bool isFloat = false;
};

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

// PCM, or extensible with the PCM sub-format, is integer; every other tag or sub-format is float.
bool decideFloatFlag(std::uint16_t formatTag, bool extensibleSubFormatIsPcm);

// The start line that names the format (formatLine).
std::string formatLineText(const FormatSummary& format);
