#include "capture/capture_loop_windows.h"

#include <chrono>

#include "common/log.h"
#include "common/protocol_text.h"

namespace {

constexpr std::chrono::milliseconds kPollInterval{10};

}  // namespace

void runCaptureLoop(IAudioCaptureClient* captureClient, PcmDownconverter& converter, SampleSink& sink,
                    RunState& state) {
    const auto loopStopped = [&state] { return !state.loopActive.load(); };
    while (!loopStopped()) {
        if (state.signal.waitFor(kPollInterval, loopStopped)) {
            return;
        }
        UINT32 frames = 0;
        HRESULT hr = captureClient->GetNextPacketSize(&frames);
        if (FAILED(hr)) {
            LogLine() << kPacketSizeFailedPrefix << hr;
            return;
        }
        while (frames > 0) {
            BYTE* data = nullptr;
            UINT32 packetFrames = 0;
            DWORD flags = 0;
            hr = captureClient->GetBuffer(&data, &packetFrames, &flags, nullptr, nullptr);
            if (FAILED(hr)) {
                LogLine() << kGetBufferFailedPrefix << hr;
                state.endLoop();
                return;
            }
            if (packetFrames > 0) {
                const auto& bytes = converter.convert(data, packetFrames, flags);
                if (!sink.write(bytes.data(), bytes.size())) {
                    state.endLoop();
                }
            }
            captureClient->ReleaseBuffer(packetFrames);
            if (loopStopped()) {
                return;
            }
            frames = 0;
            hr = captureClient->GetNextPacketSize(&frames);
            if (FAILED(hr)) {
                LogLine() << kPacketSizeFailedInLoopPrefix << hr;
                state.endLoop();
                return;
            }
        }
    }
}
