#include "capture/capture_loop_windows.h"

#include <chrono>
#include <optional>
#include <vector>

#include "capture/sound_scan.h"
#include "common/log.h"
#include "common/protocol_text.h"
#include "common/run_state.h"

namespace {

constexpr std::chrono::milliseconds kPollInterval{10};

std::uint64_t counterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<std::uint64_t>(frequency.QuadPart);
}

// The steady clock's side of the loop: packets onto the wall clock, and what is due written.
class SteadyWriter {
public:
    SteadyWriter(PcmDownconverter& converter, SampleSink& sink, std::uint64_t startCounter)
        : converter_(converter),
          sink_(sink),
          stream_(converter.format().sampleRate, counterFrequency(), startCounter) {}

    void place(const BYTE* data, UINT32 frames, DWORD flags, UINT64 devicePosition, UINT64 qpcPosition) {
        const float* mono = converter_.mixToMono(data, frames, flags);
        const PacketStamp stamp{devicePosition, qpcPosition, (flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) == 0};
        const int adjusted = stream_.place(mono, frames, stamp, performanceCounterNow());
        if (adjusted != 0) {
            LogLine() << clockAdjustedLine(adjusted);
        }
    }

    bool writeDue() {
        due_.clear();
        stream_.release(performanceCounterNow(), due_);
        return write();
    }

    void writeToTheEnd() {
        due_.clear();
        stream_.finish(performanceCounterNow(), due_);
        write();
    }

private:
    bool write() {
        if (due_.empty()) {
            return true;
        }
        const auto& bytes = converter_.resampleMono(due_.data(), static_cast<std::uint32_t>(due_.size()));
        return bytes.empty() || sink_.write(bytes.data(), bytes.size());
    }

    PcmDownconverter& converter_;
    SampleSink& sink_;
    SteadyStream stream_;
    std::vector<float> due_;
};

// What the packets tell the status lines: whether one held sound since the status last looked,
// and the audio the engine dropped before the host could have it, from the jump of the device
// position at a packet flagged as a discontinuity beyond where the packet before ended. A
// position that moves on without the flag (the engine played nothing meanwhile) is no loss, and
// neither is a discontinuity at the first packet, which follows no packet.
class PacketHealth {
public:
    PacketHealth(CaptureHealth& health, const FormatSummary& format)
        : health_(health), scan_(chooseSoundScan(format)), channels_(format.channels), rate_(format.sampleRate) {}

    void saw(const BYTE* data, UINT32 frames, DWORD flags, UINT64 devicePosition) {
        if ((flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0 && expected_ && devicePosition > *expected_ &&
            rate_ > 0) {
            health_.addLostFrames(devicePosition - *expected_, rate_);
        }
        expected_ = devicePosition + frames;
        // Once a packet was heard, the others need no look until the status has taken that.
        if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) == 0 && scan_ != nullptr && !health_.heard.load() &&
            scan_(data, static_cast<std::size_t>(frames) * channels_)) {
            health_.heard.store(true);
        }
    }

private:
    CaptureHealth& health_;
    const SoundScan scan_;
    const std::uint16_t channels_;
    const std::uint64_t rate_;
    std::optional<UINT64> expected_;  // the device position where the last packet ended
};

// The loop itself; false when it ended on a failed write.
bool capturePackets(IAudioCaptureClient* captureClient, PcmDownconverter& converter, SampleSink& sink,
                    SteadyWriter* steady, PacketHealth* health, RunState& state) {
    const bool positions = steady != nullptr || health != nullptr;
    const auto loopStopped = [&state] { return !state.loopActive.load(); };
    bool written = true;
    while (!loopStopped()) {
        // A plain sleep, not a wait on the run's signal: under Wine a timed wait on a condition
        // costs the server several calls, a sleep one; a stop waits for the next poll at most.
        Sleep(static_cast<DWORD>(kPollInterval.count()));
        if (loopStopped()) {
            return written;
        }
        UINT32 frames = 0;
        HRESULT hr = captureClient->GetNextPacketSize(&frames);
        if (FAILED(hr)) {
            LogLine() << kPacketSizeFailedPrefix << hr;
            return written;
        }
        while (frames > 0) {
            BYTE* data = nullptr;
            UINT32 packetFrames = 0;
            DWORD flags = 0;
            UINT64 devicePosition = 0;
            UINT64 qpcPosition = 0;
            hr = captureClient->GetBuffer(&data, &packetFrames, &flags, positions ? &devicePosition : nullptr,
                                          positions ? &qpcPosition : nullptr);
            if (FAILED(hr)) {
                LogLine() << kGetBufferFailedPrefix << hr;
                state.endLoop();
                return written;
            }
            if (packetFrames > 0 && health != nullptr) {
                health->saw(data, packetFrames, flags, devicePosition);
            }
            if (packetFrames > 0 && steady != nullptr) {
                steady->place(data, packetFrames, flags, devicePosition, qpcPosition);
            } else if (packetFrames > 0) {
                const auto& bytes = converter.convert(data, packetFrames, flags);
                if (!sink.write(bytes.data(), bytes.size())) {
                    written = false;
                    state.endLoop();
                }
            }
            captureClient->ReleaseBuffer(packetFrames);
            if (loopStopped()) {
                return written;
            }
            frames = 0;
            hr = captureClient->GetNextPacketSize(&frames);
            if (FAILED(hr)) {
                LogLine() << kPacketSizeFailedInLoopPrefix << hr;
                state.endLoop();
                return written;
            }
        }
        if (steady != nullptr && !steady->writeDue()) {
            state.endLoop();
            return false;
        }
    }
    return written;
}

}  // namespace

std::uint64_t performanceCounterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart);
}

void runCaptureLoop(IAudioCaptureClient* captureClient, PcmDownconverter& converter, SampleSink& sink,
                    StreamClock clock, std::uint64_t startCounter, RunState& state, CaptureHealth* health) {
    std::optional<PacketHealth> packetHealth;
    if (health != nullptr) {
        packetHealth.emplace(*health, converter.format());
    }
    PacketHealth* const watched = packetHealth ? &*packetHealth : nullptr;
    if (clock == StreamClock::Packets) {
        capturePackets(captureClient, converter, sink, nullptr, watched, state);
        return;
    }
    SteadyWriter steady(converter, sink, startCounter);
    if (capturePackets(captureClient, converter, sink, &steady, watched, state)) {
        steady.writeToTheEnd();
    }
}
