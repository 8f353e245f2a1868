#pragma once

#include <memory>
#include <optional>

#include "app/capture_run.h"
#include "capture/pulse_capture_linux.h"
#include "capture/stream_mixer.h"
#include "common/pulse_connection_linux.h"
#include "ducking/session_volumes_linux.h"

// The run on the sound server: one connection for the capture and the ducking; the selected
// applications' sink inputs recorded and mixed on a steady 10 ms clock (pulse_capture_linux.h);
// the host's commands from standard input. A server that goes away is connected to again, on the
// same connection object, while the clock goes on (capture_platform_linux.cpp).
class LinuxCapturePlatform final : public CapturePlatform {
public:
    bool open(std::uint32_t pid, bool includeMode) override;
    FormatSummary reportedFormat() const override;
    FormatSummary deliveredFormat() const override;
    void capture(RunState& state, PcmDownconverter& converter) override;
    void close() override {}
    void readCommands(RunState& state) override;
    SessionVolumes& sessions() override { return sessions_; }
    SilenceBasis silenceBasis() const override { return SilenceBasis::Levels; }

private:
    std::unique_ptr<PulseConnection> pulse_;
    // Made by capture() and kept, never destroyed, like the connection whose loop thread may
    // still answer the capture's requests after it has stopped.
    std::unique_ptr<StreamMixer> mixer_;
    std::unique_ptr<PulseCapture> capture_;
    std::optional<PulseConnection::Sink> sink_;
    std::uint32_t pid_ = 0;
    bool includeMode_ = false;
    PulseSessionVolumes sessions_;
};
