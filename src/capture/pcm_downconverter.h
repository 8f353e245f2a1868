#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "capture/capture_format.h"
#include "capture/sinc_resampler.h"

inline constexpr double kOutputRate = 16000.0;
inline constexpr std::uint32_t kBufferFlagSilent = 0x2;  // AUDCLNT_BUFFERFLAGS_SILENT

// How the mono frames become 16 kHz samples: picked by linear interpolation (the stream hosts
// have always had), or through the windowed-sinc low-pass (for rates it supports; others are
// interpolated linearly).
enum class ResampleQuality { Linear, High };

// Turns captured packets into the output stream: 16 kHz mono signed 16-bit little-endian.
// Channels are averaged per frame, then picked by linear interpolation every
// sampleRate / 16000 input frames, with the read position carried across packets, or
// resampled by the windowed-sinc filter, whose state carries across packets the same way.
class PcmDownconverter {
public:
    explicit PcmDownconverter(const FormatSummary& format, ResampleQuality quality = ResampleQuality::Linear);

    // Converts one packet of interleaved frames and returns its output bytes: mixToMono, then
    // resampleMono. The returned buffer is reused by the next call; in steady state nothing is
    // allocated.
    const std::vector<std::uint8_t>& convert(const std::uint8_t* data, std::uint32_t frames, std::uint32_t flags);
    // The packet's frames averaged to mono (zeros for a silent packet), valid until the next
    // call of mixToMono or convert.
    const float* mixToMono(const std::uint8_t* data, std::uint32_t frames, std::uint32_t flags);
    // Mono frames at the capture rate to output bytes, with the position (or the filter's state)
    // carried from the frames before.
    const std::vector<std::uint8_t>& resampleMono(const float* mono, std::uint32_t frames);

    const FormatSummary& format() const { return format_; }

    // The linear path's read position and step, in input frames.
    double position() const { return position_; }
    double step() const { return step_; }
    bool filtered() const { return sinc_.has_value(); }

private:
    using MixFunction = void (*)(const std::uint8_t* data, std::uint32_t frames, std::uint16_t channels, float* mono);
    // The frame averager for the format's sample type.
    static MixFunction chooseMixFunction(const FormatSummary& format);

    FormatSummary format_;
    MixFunction mix_;  // chosen once from the format; null for formats that decode to silence
    double step_;
    double position_ = 0.0;
    std::optional<SincResampler> sinc_;
    std::vector<float> mono_;
    std::vector<float> filtered_;
    std::vector<std::uint8_t> output_;
};
