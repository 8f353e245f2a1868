#include "capture/pcm_downconverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr float kScale8 = 0.0078125f;                // 2^-7
constexpr float kScale16 = 3.0517578125e-05f;        // 2^-15
constexpr float kScale24 = 1.1920928955078125e-07f;  // 2^-23
constexpr float kScale32 = 4.656612873077393e-10f;   // 2^-31
constexpr float kFullScale = 32767.0f;

// One decoder per sample type: the contribution of the sample at p, in single precision.
struct Float32Sample {
    static constexpr std::size_t kBytes = 4;
    static float decode(const std::uint8_t* p) {
        float value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }
};

struct Unsigned8Sample {
    static constexpr std::size_t kBytes = 1;
    static float decode(const std::uint8_t* p) { return (static_cast<float>(p[0]) - 128.0f) * kScale8; }
};

struct Signed16Sample {
    static constexpr std::size_t kBytes = 2;
    static float decode(const std::uint8_t* p) {
        const auto value = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
        return static_cast<float>(value) * kScale16;
    }
};

struct Signed24Sample {
    static constexpr std::size_t kBytes = 3;
    static float decode(const std::uint8_t* p) {
        std::int32_t value = p[0] | (p[1] << 8) | (p[2] << 16);
        if ((value & 0x800000) != 0) {
            value -= 0x1000000;
        }
        return static_cast<float>(value) * kScale24;
    }
};

struct Signed32Sample {
    static constexpr std::size_t kBytes = 4;
    static float decode(const std::uint8_t* p) {
        const auto value = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
        return static_cast<float>(value) * kScale32;
    }
};

template <class Sample>
void mixFrames(const std::uint8_t* data, std::uint32_t frames, std::uint16_t channels, float* mono) {
    const auto divisor = static_cast<float>(channels);
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        float sum = 0.0f;
        for (std::uint16_t channel = 0; channel < channels; ++channel) {
            sum += Sample::decode(data);
            data += Sample::kBytes;
        }
        mono[frame] = sum / divisor;
    }
}

// 64-bit float samples are summed and divided in double precision; only the quotient is narrowed.
void mixFramesFloat64(const std::uint8_t* data, std::uint32_t frames, std::uint16_t channels, float* mono) {
    const auto divisor = static_cast<double>(channels);
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        double sum = 0.0;
        for (std::uint16_t channel = 0; channel < channels; ++channel) {
            double value;
            std::memcpy(&value, data, sizeof value);
            sum += value;
            data += sizeof value;
        }
        mono[frame] = static_cast<float>(sum / divisor);
    }
}

std::int16_t quantize(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    value = std::min(std::max(value, -1.0f), 1.0f);
    return static_cast<std::int16_t>(static_cast<std::int32_t>(value * kFullScale));
}

void appendSample(std::vector<std::uint8_t>& output, float value) {
    const auto sample = static_cast<std::uint16_t>(quantize(value));
    output.push_back(static_cast<std::uint8_t>(sample & 0xFF));
    output.push_back(static_cast<std::uint8_t>(sample >> 8));
}

}  // namespace

PcmDownconverter::MixFunction PcmDownconverter::chooseMixFunction(const FormatSummary& format) {
    if (format.channels == 0) {
        return nullptr;
    }
    if (format.isFloat) {
        switch (format.bitsPerSample) {
            case 32: return &mixFrames<Float32Sample>;
            case 64: return &mixFramesFloat64;
            default: return nullptr;
        }
    }
    switch (format.bitsPerSample) {
        case 8: return &mixFrames<Unsigned8Sample>;
        case 16: return &mixFrames<Signed16Sample>;
        case 24: return &mixFrames<Signed24Sample>;
        case 32: return &mixFrames<Signed32Sample>;
        default: return nullptr;
    }
}

PcmDownconverter::PcmDownconverter(const FormatSummary& format, ResampleQuality quality)
    : format_(format), mix_(chooseMixFunction(format)), step_(format.sampleRate / kOutputRate) {
    if (quality == ResampleQuality::High && SincResampler::supports(format.sampleRate)) {
        sinc_.emplace(format.sampleRate);
    }
}

const std::vector<std::uint8_t>& PcmDownconverter::convert(const std::uint8_t* data, std::uint32_t frames,
                                                           std::uint32_t flags) {
    return resampleMono(mixToMono(data, frames, flags), frames);
}

const float* PcmDownconverter::mixToMono(const std::uint8_t* data, std::uint32_t frames, std::uint32_t flags) {
    if (mono_.size() < frames) {
        mono_.resize(frames);
    }
    float* mono = mono_.data();
    if ((flags & kBufferFlagSilent) != 0 || mix_ == nullptr) {
        std::fill_n(mono, frames, 0.0f);
    } else {
        mix_(data, frames, format_.channels, mono);
    }
    return mono;
}

const std::vector<std::uint8_t>& PcmDownconverter::resampleMono(const float* mono, std::uint32_t frames) {
    output_.clear();
    if (sinc_) {
        sinc_->process(mono, frames, filtered_);
        for (const float value : filtered_) {
            appendSample(output_, value);
        }
        return output_;
    }

    const auto frameCount = static_cast<double>(frames);
    // A zero rate would never advance the position: such a format produces no samples.
    if (step_ > 0.0) {
        while (frameCount > position_) {
            const auto i = static_cast<std::uint32_t>(position_);
            const std::uint32_t i1 = i + 1 < frames ? i + 1 : i;
            const auto f = static_cast<float>(position_ - i);
            appendSample(output_, (1.0f - f) * mono[i] + f * mono[i1]);
            position_ += step_;
        }
    }
    position_ = std::max(0.0, position_ - frameCount);
    return output_;
}
