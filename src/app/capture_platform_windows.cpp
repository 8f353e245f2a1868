#include "app/capture_platform_windows.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "app/stdin_protocol.h"
#include "capture/capture_loop_windows.h"
#include "capture/held_write_watch.h"
#include "capture/loopback_activation_windows.h"
#include "common/handles_windows.h"
#include "common/log.h"
#include "common/protocol_text.h"

namespace {

// Standard output in binary mode, written with one WriteFile per packet. A pipe gives no way to
// learn whether a write will block: a write held past the stop is cancelled with
// CancelSynchronousIo on the capture thread.
class StdoutSink final : public SampleSink {
public:
    explicit StdoutSink(RunState& state)
        : output_(GetStdHandle(STD_OUTPUT_HANDLE)),
          captureThread_(duplicateOfThisThread()),
          watch_(state, [this] { CancelSynchronousIo(captureThread_.get()); }) {
        _setmode(_fileno(stdout), _O_BINARY);
    }

    bool write(const std::uint8_t* data, std::size_t size) override {
        if (givenUp_) {
            return true;
        }
        watch_.writeBegins();
        bool delivered = true;
        while (size > 0) {
            DWORD written = 0;
            if (!WriteFile(output_, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
                givenUp_ = GetLastError() == ERROR_OPERATION_ABORTED;
                delivered = givenUp_;
                break;
            }
            data += written;
            size -= written;
        }
        watch_.writeEnds();
        if (!delivered) {
            LogLine() << kStdoutClosedLine;
        }
        return delivered;
    }

private:
    static UniqueHandle duplicateOfThisThread() {
        HANDLE thread = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        return UniqueHandle(thread);
    }

    HANDLE output_;
    UniqueHandle captureThread_;
    bool givenUp_ = false;
    HeldWriteWatch watch_;
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
    // The steady stream counts from here: the engine stamps its packets from the start on, while
    // the capture loop runs only once the workers have started.
    startCounter_ = performanceCounterNow();
    const HRESULT hr = audioClient_->Start();
    if (FAILED(hr)) {
        LogLine() << kStartFailedPrefix << hr;
        return false;
    }
    started_ = true;
    return true;
}

void WindowsCapturePlatform::capture(RunState& state, PcmDownconverter& converter) {
    StdoutSink sink(state);
    runCaptureLoop(capture_->captureClient.get(), converter, sink, clock_, startCounter_, state,
                   status_ ? &state.health : nullptr);
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
    sessions_.endPasses();
    CoUninitialize();
}
