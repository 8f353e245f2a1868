#include "capture/sound_scan.h"

#include <algorithm>
#include <cstring>

namespace {

// Signed integer samples of any width: zero is every byte zero.
template <std::size_t kBytes>
bool integerSound(const std::uint8_t* data, std::size_t samples) {
    const std::uint8_t* end = data + samples * kBytes;
    return std::find_if(data, end, [](std::uint8_t byte) { return byte != 0; }) != end;
}

// Unsigned 8-bit samples: zero is 128.
bool unsigned8Sound(const std::uint8_t* data, std::size_t samples) {
    const std::uint8_t* end = data + samples;
    return std::find_if(data, end, [](std::uint8_t byte) { return byte != 0x80; }) != end;
}

template <class Float>
bool floatSound(const std::uint8_t* data, std::size_t samples) {
    for (std::size_t i = 0; i < samples; ++i, data += sizeof(Float)) {
        Float value;
        std::memcpy(&value, data, sizeof value);
        if (value != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

SoundScan chooseSoundScan(const FormatSummary& format) {
    if (format.channels == 0) {
        return nullptr;
    }
    if (format.isFloat) {
        switch (format.bitsPerSample) {
            case 32: return &floatSound<float>;
            case 64: return &floatSound<double>;
            default: return nullptr;
        }
    }
    switch (format.bitsPerSample) {
        case 8: return &unsigned8Sound;
        case 16: return &integerSound<2>;
        case 24: return &integerSound<3>;
        case 32: return &integerSound<4>;
        default: return nullptr;
    }
}
