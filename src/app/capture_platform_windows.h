#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstdint>
#include <optional>

#include "app/capture_run.h"
#include "capture/format_negotiation_windows.h"
#include "capture/steady_stream.h"
#include "common/com_ref_windows.h"
#include "ducking/session_volumes_windows.h"

// The run on Windows: process-loopback capture of the target's tree (or of all but it) through
// an activated audio client, polled every 10 ms; the host's commands from the standard input
// handle; the ducking thread in COM's multithreaded apartment. The calling thread has entered
// that apartment.
class WindowsCapturePlatform final : public CapturePlatform {
public:
    // How the stream keeps time (--clock=packets or steady); `status`: the capture tells the
    // status lines what it hears and loses, and the sessions' walks read their peak meters
    // (--status).
    explicit WindowsCapturePlatform(StreamClock clock = StreamClock::Packets, bool status = false)
        : clock_(clock), status_(status), sessions_(status) {}
    bool open(std::uint32_t pid, bool includeMode) override;
    FormatSummary reportedFormat() const override { return capture_->format.summary(); }
    FormatSummary deliveredFormat() const override { return capture_->format.summary(); }
    void capture(RunState& state, PcmDownconverter& converter) override;
    void close() override;
    void readCommands(RunState& state) override;
    void runDuckingThread(const std::function<void()>& body) override;
    SessionVolumes& sessions() override { return sessions_; }
    SilenceBasis silenceBasis() const override { return SilenceBasis::Samples; }

private:
    // Released in reverse order of acquisition: capture client, then client.
    ComRef<IAudioClient> audioClient_;
    std::optional<InitializedCapture> capture_;
    bool started_ = false;
    std::uint64_t startCounter_ = 0;  // the performance counter as the client started
    const StreamClock clock_;
    const bool status_;
    WindowsSessionVolumes sessions_;
};
