// The down-converter over an arbitrary format summary and arbitrary packets. Each packet is
// copied into a buffer of exactly frames x channels x bytes per sample, so a read past it is
// caught; the output length must follow from the carried position and the step.

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
    FormatSummary format;
    // Rates below 100 Hz would only make the run slow: thousands of samples per frame.
    format.sampleRate = 100 + take<std::uint32_t>(data, size) % 400000;
    format.channels = take<std::uint8_t>(data, size) % 17;
    format.bitsPerSample = take<std::uint8_t>(data, size);
    format.isFloat = (take<std::uint8_t>(data, size) & 1) != 0;
    PcmDownconverter converter(format);
    const std::size_t frameBytes = static_cast<std::size_t>(format.channels) * (format.bitsPerSample / 8);

    while (size > 0) {
        const std::uint32_t frames = 1 + take<std::uint16_t>(data, size) % 2048;
        const std::uint32_t flags = take<std::uint8_t>(data, size);
        const std::size_t bytes = frames * frameBytes;
        std::vector<std::uint8_t> packet(bytes);
        const std::size_t available = std::min(bytes, size);
        std::copy(data, data + available, packet.begin());
        data += available;
        size -= available;

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
