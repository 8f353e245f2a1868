#include "app/capture_platform_windows.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "app/stdin_protocol.h"
#include "capture/capture_loop_windows.h"
#include "capture/loopback_activation_windows.h"
#include "common/log.h"
#include "common/protocol_text.h"

namespace {

// Standard output in binary mode, written with one WriteFile per packet.
class StdoutSink final : public SampleSink {
public:
    StdoutSink() : output_(GetStdHandle(STD_OUTPUT_HANDLE)) { _setmode(_fileno(stdout), _O_BINARY); }

    bool write(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            DWORD written = 0;
            if (!WriteFile(output_, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
                LogLine() << kStdoutClosedLine;
                return false;
            }
            data += written;
            size -= written;
        }
        return true;
    }

private:
    HANDLE output_;
};

}  // namespace

bool WindowsCapturePlatform::open(std::uint32_t pid, bool includeMode) {
    audioClient_ = activateProcessLoopbackClient(pid, includeMode);
    if (!audioClient_) {
        return false;
    }
    capture_ = negotiateAndInitialize(audioClient_.get());
    if (!capture_) {
        return false;
    }
    const HRESULT hr = audioClient_->Start();
    if (FAILED(hr)) {
        LogLine() << kStartFailedPrefix << hr;
        return false;
    }
    started_ = true;
    return true;
}

void WindowsCapturePlatform::capture(RunState& state, PcmDownconverter& converter) {
    StdoutSink sink;
    runCaptureLoop(capture_->captureClient.get(), converter, sink, clock_, state);
}

void WindowsCapturePlatform::close() {
    if (started_) {
        audioClient_->Stop();
    }
    capture_.reset();
    audioClient_.reset();
}

void WindowsCapturePlatform::readCommands(RunState& state) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        LogLine() << kNoStdinLine;
        return;
    }
    runStdinReader(
        [input](char* buffer, std::size_t capacity) -> std::size_t {
            DWORD got = 0;
            if (!ReadFile(input, buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
                return 0;
            }
            return got;
        },
        state);
}

void WindowsCapturePlatform::runDuckingThread(const std::function<void()>& body) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return;
    }
    body();
    CoUninitialize();
}
