#include "capture/capture_loop.h"

#include <chrono>

#include "common/log.h"
#include "common/run_state.h"

namespace {

constexpr std::chrono::milliseconds kPollInterval{10};

bool loopStopped() {
    return !g_captureLoopActive.load();
}

}  // namespace

void runCaptureLoop(IAudioCaptureClient* captureClient, PcmDownconverter& converter, SampleSink& sink) {
    while (!loopStopped()) {
        if (g_runSignal.waitFor(kPollInterval, loopStopped)) {
            return;
        }
        UINT32 frames = 0;
        HRESULT hr = captureClient->GetNextPacketSize(&frames);
        if (FAILED(hr)) {
            LogLine() << "[win-helper] GetNextPacketSize failed: " << hr;
            return;
        }
        while (frames > 0) {
            BYTE* data = nullptr;
            UINT32 packetFrames = 0;
            DWORD flags = 0;
            hr = captureClient->GetBuffer(&data, &packetFrames, &flags, nullptr, nullptr);
            if (FAILED(hr)) {
                LogLine() << "[win-helper] GetBuffer failed: " << hr;
                g_captureLoopActive.exchange(false);
                return;
            }
            if (packetFrames > 0) {
                const auto& bytes = converter.convert(data, packetFrames, flags);
                if (!sink.write(bytes.data(), bytes.size())) {
                    g_captureLoopActive.exchange(false);
                }
            }
            captureClient->ReleaseBuffer(packetFrames);
            if (loopStopped()) {
                return;
            }
            frames = 0;
            hr = captureClient->GetNextPacketSize(&frames);
            if (FAILED(hr)) {
                LogLine() << "[win-helper] GetNextPacketSize failed in loop: " << hr;
                g_captureLoopActive.exchange(false);
                return;
            }
        }
    }
}
