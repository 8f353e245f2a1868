#include "app/capture_run.h"

#include <windows.h>
#include <audioclient.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "app/guardian.h"
#include "app/host_watch.h"
#include "app/workers.h"
#include "capture/capture_format.h"
#include "capture/capture_loop.h"
#include "capture/format_negotiation.h"
#include "capture/loopback_activation.h"
#include "capture/pcm_downconverter.h"
#include "common/log.h"
#include "common/protocol_text.h"
#include "common/run_state.h"

namespace {

// Standard output in binary mode, written with one WriteFile per packet.
class StdoutSink final : public SampleSink {
public:
    StdoutSink() : output_(GetStdHandle(STD_OUTPUT_HANDLE)) { _setmode(_fileno(stdout), _O_BINARY); }

    bool write(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            DWORD written = 0;
            if (!WriteFile(output_, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
                LogLine() << "[win-helper] Write to stdout failed (pipe closed)";
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

int runCapture(std::uint32_t pid, bool includeMode, ResampleQuality quality, StreamClock clock) {
    // Released in reverse order of acquisition on every path: capture client, then client.
    const ComRef<IAudioClient> audioClient = activateProcessLoopbackClient(pid, includeMode);
    if (!audioClient) {
        return 1;
    }
    std::optional<InitializedCapture> capture = negotiateAndInitialize(audioClient.get());
    if (!capture) {
        return 1;
    }
    const HRESULT hr = audioClient->Start();
    if (FAILED(hr)) {
        LogLine() << kStartFailedPrefix << hr;
        return 1;
    }
    StdoutSink sink;

    // Set before the reader can run, so a stop it reads at once is never overwritten.
    g_captureLoopActive.exchange(true);
    // The guardian before the ducking thread, so that it watches before anything is lowered.
    // Without one (it says why) the journal still serves the next start: the capture goes on.
    bool workersStarted = startStdinReader();
    if (workersStarted) {
        startGuardian();
        workersStarted = startDuckingThread(pid);
    }
    if (workersStarted) {
        startHostWatch();
        const FormatSummary summary = capture->format.summary();
        LogLine() << kCaptureStartedLine;
        LogLine() << kTargetPidLinePrefix << pid;
        LogLine() << formatLineText(summary);
        PcmDownconverter converter(summary, quality);
        runCaptureLoop(capture->captureClient.get(), converter, sink, clock);
    }

    endDucking();
    audioClient->Stop();
    capture->captureClient.reset();
    return workersStarted ? 0 : 1;
}
