// The steady stream over what an audio engine might hand out: packets of 1 to 2048 frames whose
// device positions follow on or jump, stamped anywhere from a minute before their arrival to a
// minute after it, or flagged; arrivals 0 to 255 ms apart; releases between them; then the stop.
// Counters of 1 MHz to 10 GHz, rates of 8 kHz to 384 kHz.
// Properties: after a release the stream is exactly as long as the clock says 200 ms earlier
// (or as it was, if that is longer); after the stop at least as long as the clock says, and at
// most 500 ms longer; every frame lies within the frames placed (-1..1): a cross-fade mixes,
// never amplifies.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/steady_stream.h"

namespace {

template <class T>
T take(const std::uint8_t*& data, std::size_t& size) {
    T value{};
    const std::size_t n = sizeof value < size ? sizeof value : size;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

// The clock's frames since the start, in 128 bits.
std::int64_t clockFrames(std::uint64_t elapsedTicks, std::uint32_t rate, std::uint64_t frequency) {
    return static_cast<std::int64_t>(static_cast<unsigned __int128>(elapsedTicks) * rate / frequency);
}

void checkFrames(const std::vector<float>& out) {
    for (const float value : out) {
        if (!(value >= -1.0f && value <= 1.0f)) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint32_t kRates[] = {8000, 11025, 16000, 22050, 44100, 48000, 96000, 192000, 384000};
    const std::uint32_t rate = kRates[take<std::uint8_t>(data, size) % 9];
    const std::uint64_t frequency = 1000000 + take<std::uint32_t>(data, size) % 1000000000 * 10;
    // Up to about a day since the counter's start.
    const std::uint64_t start = take<std::uint32_t>(data, size) % 86400 * frequency;
    SteadyStream stream(rate, frequency, start);

    std::vector<float> out;
    std::vector<float> mono;
    std::uint64_t now = start;
    std::uint64_t nextPosition = 0;
    for (int step = 0; size > 0 && step < 64; ++step) {
        now += take<std::uint8_t>(data, size) * frequency / 1000;
        const auto choice = take<std::uint8_t>(data, size);
        if (choice % 4 == 0) {
            const std::size_t before = out.size();
            stream.release(now, out);
            const std::int64_t due = clockFrames(now - start, rate, frequency) - static_cast<std::int64_t>(rate) / 5;
            if (static_cast<std::int64_t>(out.size()) != std::max(static_cast<std::int64_t>(before), due)) {
                std::abort();
            }
            continue;
        }
        const std::size_t frames = 1 + take<std::uint16_t>(data, size) % 2048;
        mono.resize(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            mono[i] = static_cast<float>(static_cast<int>((i + choice) % 7) - 3) / 3.0f;
        }
        PacketStamp stamp;
        stamp.devicePosition = (choice & 4) != 0 ? nextPosition : take<std::uint32_t>(data, size);
        stamp.valid = (choice & 8) == 0;
        // The arrival in 100-ns units, moved by up to a minute either way.
        const auto arrivalTime = static_cast<std::int64_t>(static_cast<unsigned __int128>(now) * 10000000 / frequency);
        stamp.time = static_cast<std::uint64_t>(arrivalTime + take<std::int32_t>(data, size) % 600000000);
        stream.place(mono.data(), frames, stamp, now);
        nextPosition = stamp.devicePosition + frames;
    }
    stream.finish(now, out);
    const std::int64_t clock = clockFrames(now - start, rate, frequency);
    const auto length = static_cast<std::int64_t>(out.size());
    if (length < clock || length > clock + static_cast<std::int64_t>(rate) / 2) {
        std::abort();
    }
    checkFrames(out);
    return 0;
}
