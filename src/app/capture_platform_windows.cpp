#include "app/capture_platform_windows.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

#include "app/stdin_protocol.h"
#include "capture/capture_loop_windows.h"
#include "capture/loopback_activation_windows.h"
#include "common/handles_windows.h"
#include "common/log.h"
#include "common/protocol_text.h"

namespace {

// How often the watch over a held-up write looks at it.
constexpr std::chrono::milliseconds kWatchInterval{20};

// Standard output in binary mode, written with one WriteFile per packet. A pipe gives no way to
// learn whether a write will block, so a watch thread, from the loop's stop on, cancels a write
// that has waited longer than kStoppedWriteGrace (CancelSynchronousIo on the capture thread).
class StdoutSink final : public SampleSink {
public:
    explicit StdoutSink(RunState& state) : state_(state), output_(GetStdHandle(STD_OUTPUT_HANDLE)) {
        _setmode(_fileno(stdout), _O_BINARY);
        HANDLE thread = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            return;  // without a watch, a write waits for the host as it must
        }
        captureThread_.reset(thread);
        try {
            watch_ = std::thread([this] { watch(); });
        } catch (const std::system_error&) {
        }
    }

    ~StdoutSink() override {
        ended_.exchange(true);
        state_.signal.notify();
        if (watch_.joinable()) {
            watch_.join();
        }
    }

    StdoutSink(const StdoutSink&) = delete;
    StdoutSink& operator=(const StdoutSink&) = delete;

    bool write(const std::uint8_t* data, std::size_t size) override {
        if (givenUp_) {
            return true;
        }
        writeBegan_.exchange(GetTickCount64());
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
        writeBegan_.exchange(0);
        if (!delivered) {
            LogLine() << kStdoutClosedLine;
        }
        return delivered;
    }

private:
    void watch() {
        const auto stoppedOrEnded = [this] { return !state_.loopActive.load() || ended_.load(); };
        while (!state_.signal.waitFor(std::chrono::hours(1), stoppedOrEnded)) {
        }
        const auto ended = [this] { return ended_.load(); };
        while (!state_.signal.waitFor(kWatchInterval, ended)) {
            const ULONGLONG began = writeBegan_.load();
            if (began != 0 && GetTickCount64() - began > static_cast<ULONGLONG>(kStoppedWriteGrace.count())) {
                CancelSynchronousIo(captureThread_.get());
            }
        }
    }

    RunState& state_;
    HANDLE output_;
    UniqueHandle captureThread_;
    // When the write under way began (GetTickCount64), 0 between writes.
    std::atomic<ULONGLONG> writeBegan_{0};
    std::atomic<bool> ended_{false};
    bool givenUp_ = false;
    std::thread watch_;
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
    StdoutSink sink(state);
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
