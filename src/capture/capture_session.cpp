#include "capture/capture_session.h"

#include <windows.h>
#include <audioclient.h>
#include <fcntl.h>
#include <io.h>
#include <ksmedia.h>
#include <mmreg.h>

#include <cstdio>
#include <exception>
#include <thread>

#include "app/log.h"
#include "app/run_state.h"
#include "app/stdin_reader.h"
#include "capture/capture_format.h"
#include "capture/format_negotiation.h"
#include "capture/loopback_activation.h"
#include "capture/pcm_downconverter.h"
#include "ducking/ducking_control.h"

namespace {

constexpr DWORD kPollIntervalMs = 10;

// {00000001-0000-0010-8000-00AA00389B71}
constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

FormatSummary summarizeFormat(const WAVEFORMATEX& format) {
    bool subFormatIsPcm = false;
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        subFormatIsPcm = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format).SubFormat == kSubtypePcm;
    }
    return {format.nSamplesPerSec, format.nChannels, format.wBitsPerSample,
            decideFloatFlag(format.wFormatTag, subFormatIsPcm)};
}

// Writes the whole buffer to standard output. False once the host has closed its end.
bool writeToStdout(HANDLE output, const std::vector<std::uint8_t>& bytes) {
    const std::uint8_t* data = bytes.data();
    std::size_t remaining = bytes.size();
    while (remaining > 0) {
        DWORD written = 0;
        if (!WriteFile(output, data, static_cast<DWORD>(remaining), &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        remaining -= written;
    }
    return true;
}

// Polls the capture client every 10 ms and drains every waiting packet back to back.
void runCaptureLoop(IAudioCaptureClient* captureClient, PcmDownconverter& converter) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    while (g_captureLoopActive.load()) {
        Sleep(kPollIntervalMs);
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
                if (!writeToStdout(output, bytes)) {
                    LogLine() << "[win-helper] Write to stdout failed (pipe closed)";
                    g_captureLoopActive.exchange(false);
                }
            }
            captureClient->ReleaseBuffer(packetFrames);
            if (!g_captureLoopActive.load()) {
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

// The stdin reader runs detached and is never joined.
bool startStdinReader() {
    try {
        std::thread(stdinReaderMain).detach();
        return true;
    } catch (const std::exception& error) {
        LogLine() << "[win-helper] Failed to start the stdin reader thread: " << error.what();
        return false;
    }
}

}  // namespace

int runCaptureSession(std::uint32_t pid, bool includeMode) {
    // Released in reverse order of acquisition on every path: capture client, then client.
    ComRef<IAudioClient> audioClient = activateProcessLoopbackClient(pid, includeMode);
    if (!audioClient) {
        return 1;
    }
    CaptureFormat format;
    ComRef<IAudioCaptureClient> captureClient;
    if (!negotiateAndInitialize(audioClient, format, captureClient)) {
        return 1;
    }

    const HRESULT hr = audioClient->Start();
    if (FAILED(hr)) {
        LogLine() << "IAudioClient::Start failed: " << hr;
        return 1;
    }
    _setmode(_fileno(stdout), _O_BINARY);

    // Set before the reader can run, so a stop it reads at once is never overwritten.
    g_captureLoopActive.exchange(true);
    const bool workersStarted = startStdinReader() && startDuckingThread(pid);
    if (!workersStarted) {
        g_captureLoopActive.exchange(false);
    }

    const FormatSummary summary = summarizeFormat(*format.get());
    if (workersStarted) {
        LogLine() << "[win-helper] Windows WASAPI process-excluded loopback capture started.";
        LogLine() << "[win-helper] Excluding PID: " << pid;
        LogLine() << formatLineText(summary);
    }
    format.freeTaskMemory();

    if (workersStarted) {
        PcmDownconverter converter(summary);
        runCaptureLoop(captureClient.get(), converter);
    }

    stopDuckingAndRestore();
    audioClient->Stop();
    captureClient.reset();
    audioClient.reset();
    return workersStarted ? 0 : 1;
}
