// The floor of what a capture costs: only what a process-loopback capture needs, for the CPU
// benchmark (bench/capture_cpu_wine.sh) to measure the program against. Activation and format
// negotiation as the program does them (its own functions, which log as they go), then a 10 ms
// poll that drains every packet and writes it as mono 16 kHz (every third frame's channel mean,
// 48 kHz float stereo only, as the benchmark's engine delivers) in one write per poll. No
// ducking, no standard input, no log of its own, no end but the process's.
//
//   build/windows/run-under-wine.sh build/windows/bench/minimal_capture.exe <pid> >/dev/null

#include <windows.h>
#include <audioclient.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "capture/format_negotiation_windows.h"
#include "capture/loopback_activation_windows.h"

int main(int argc, char** argv) {
    if (argc < 2 || CoInitializeEx(nullptr, COINIT_MULTITHREADED) < 0) {
        return 1;
    }
    const auto pid = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const ComRef<IAudioClient> client = activateProcessLoopbackClient(pid, false);
    if (!client) {
        return 1;
    }
    const std::optional<InitializedCapture> capture = negotiateAndInitialize(client.get());
    if (!capture || FAILED(client->Start())) {
        return 1;
    }
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::vector<std::int16_t> samples;
    std::uint64_t frameCount = 0;  // frames seen so far, so that every third is taken across packets
    for (;;) {
        Sleep(10);
        samples.clear();
        UINT32 size = 0;
        while (SUCCEEDED(capture->captureClient->GetNextPacketSize(&size)) && size > 0) {
            BYTE* data = nullptr;
            UINT32 frames = 0;
            DWORD flags = 0;
            if (FAILED(capture->captureClient->GetBuffer(&data, &frames, &flags, nullptr, nullptr))) {
                return 0;
            }
            const auto* stereo = reinterpret_cast<const float*>(data);
            for (UINT32 frame = 0; frame < frames; ++frame, ++frameCount) {
                if (frameCount % 3 == 0) {
                    const float mono = (stereo[2 * frame] + stereo[2 * frame + 1]) * 0.5f;
                    samples.push_back(static_cast<std::int16_t>(mono * 32767.0f));
                }
            }
            capture->captureClient->ReleaseBuffer(frames);
        }
        DWORD written = 0;
        if (!samples.empty() &&
            !WriteFile(out, samples.data(), static_cast<DWORD>(samples.size() * sizeof samples[0]), &written, nullptr)) {
            return 0;
        }
    }
}
