// The down-converter, linear or filtered, over the formats and packet sizes an audio engine
// delivers, with arbitrary packet bytes and flags. Each packet is copied into a buffer of exactly
// frames x channels x bytes per sample, so a read past it is caught; the output length must
// follow from the carried position and the step (linear), or be, after every packet, the number
// of outputs due by then: ceil(frames so far x 16000 / rate) (filtered).

#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "capture/pcm_downconverter.h"

namespace {

template <class T>
T take(const std::uint8_t*& data, std::size_t& size) {
    T value{};
    const std::size_t n = std::min(sizeof value, size);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Formats an audio engine can deliver: 8 kHz to 384 kHz, up to 8 channels (0 too, which
    // decodes to silence), the sample sizes of real formats or, one time in six, any value.
    constexpr std::uint32_t kMinRate = 8000;
    constexpr std::uint32_t kMaxRate = 384000;
    constexpr std::uint16_t kBits[] = {8, 16, 24, 32, 64};
    FormatSummary format;
    format.sampleRate = kMinRate + take<std::uint32_t>(data, size) % (kMaxRate - kMinRate + 1);
    format.channels = take<std::uint8_t>(data, size) % 9;
    const std::uint8_t bitsChoice = take<std::uint8_t>(data, size);
    format.bitsPerSample = bitsChoice % 6 < 5 ? kBits[bitsChoice % 6] : take<std::uint8_t>(data, size);
    const auto flagsByte = take<std::uint8_t>(data, size);
    format.isFloat = (flagsByte & 1) != 0;
    const auto quality = (flagsByte & 2) != 0 ? ResampleQuality::High : ResampleQuality::Linear;
    PcmDownconverter converter(format, quality);
    if (converter.filtered() != (quality == ResampleQuality::High)) {
        std::abort();  // every rate here is one the filter takes
    }
    std::uint64_t framesSoFar = 0;
    std::uint64_t outputsSoFar = 0;
    const std::size_t frameBytes = static_cast<std::size_t>(format.channels) * (format.bitsPerSample / 8);

    // Packets of up to 2048 frames (about 43 ms at 48 kHz; the engine hands out about 10 ms), at
    // most 16 of them per input.
    for (int packetCount = 0; size > 0 && packetCount < 16; ++packetCount) {
        const std::uint32_t frames = 1 + take<std::uint16_t>(data, size) % 2048;
        const std::uint32_t flags = take<std::uint8_t>(data, size);
        const std::size_t bytes = frames * frameBytes;
        std::vector<std::uint8_t> packet(bytes);
        const std::size_t available = std::min(bytes, size);
        std::copy(data, data + available, packet.begin());
        data += available;
        size -= available;

        if (converter.filtered()) {
            const auto& out = converter.convert(packet.empty() ? nullptr : packet.data(), frames, flags);
            framesSoFar += frames;
            outputsSoFar += out.size() / 2;
            if (out.size() % 2 != 0 ||
                outputsSoFar != (framesSoFar * 16000 + format.sampleRate - 1) / format.sampleRate) {
                std::abort();
            }
            continue;
        }
        double position = converter.position();
        std::size_t expected = 0;
        while (static_cast<double>(frames) > position) {
            position += converter.step();
            ++expected;
        }
        const auto& out = converter.convert(packet.empty() ? nullptr : packet.data(), frames, flags);
        if (out.size() != 2 * expected) {
            std::abort();
        }
        if (!(converter.position() >= 0.0 && converter.position() < converter.step() + frames)) {
            std::abort();
        }
    }
    return 0;
}
