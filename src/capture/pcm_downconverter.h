#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/capture_format.h"

inline constexpr double kOutputRate = 16000.0;
inline constexpr std::uint32_t kBufferFlagSilent = 0x2;  // AUDCLNT_BUFFERFLAGS_SILENT

// Turns captured packets into the output stream: 16 kHz mono signed 16-bit little-endian.
// Channels are averaged per frame, then picked by linear interpolation every
// sampleRate / 16000 input frames, with the read position carried across packets.
class PcmDownconverter {
public:
    explicit PcmDownconverter(const FormatSummary& format);

    // Converts one packet of interleaved frames and returns its output bytes. The returned
    // buffer is reused by the next call; in steady state nothing is allocated.
    const std::vector<std::uint8_t>& convert(const std::uint8_t* data, std::uint32_t frames, std::uint32_t flags);

    double position() const { return position_; }
    double step() const { return step_; }

private:
    using MixFunction = void (*)(const std::uint8_t* data, std::uint32_t frames, std::uint16_t channels, float* mono);

    FormatSummary format_;
    MixFunction mix_;  // chosen once from the format; null for formats that decode to silence
    double step_;
    double position_ = 0.0;
    std::vector<float> mono_;
    std::vector<std::uint8_t> output_;
};
