#include "capture/capture_loop_windows.h"

#include <chrono>
#include <optional>
#include <vector>

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

// The loop itself; false when it ended on a failed write.
bool capturePackets(IAudioCaptureClient* captureClient, PcmDownconverter& converter, SampleSink& sink,
                    SteadyWriter* steady, RunState& state) {
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
            hr = captureClient->GetBuffer(&data, &packetFrames, &flags, steady ? &devicePosition : nullptr,
                                          steady ? &qpcPosition : nullptr);
            if (FAILED(hr)) {
                LogLine() << kGetBufferFailedPrefix << hr;
                state.endLoop();
                return written;
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
                    StreamClock clock, std::uint64_t startCounter, RunState& state) {
    if (clock == StreamClock::Packets) {
        capturePackets(captureClient, converter, sink, nullptr, state);
        return;
    }
    SteadyWriter steady(converter, sink, startCounter);
    if (capturePackets(captureClient, converter, sink, &steady, state)) {
        steady.writeToTheEnd();
    }
}
