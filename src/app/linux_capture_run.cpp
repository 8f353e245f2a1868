#include "app/linux_capture_run.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/linux_guardian.h"
#include "app/stdin_protocol.h"
#include "capture/capture_format.h"
#include "capture/pulse_capture.h"
#include "capture/stream_mixer.h"
#include "common/log.h"
#include "common/protocol_text.h"
#include "common/pulse_connection.h"
#include "common/run_state.h"
#include "common/process_identity.h"
#include "ducking/ducking_engine.h"
#include "ducking/session_volumes_linux.h"

namespace {

constexpr auto kTick = std::chrono::milliseconds(10);
constexpr std::size_t kTickFrames = PulseCapture::kRate / 100;
// A stream may run this far ahead of the clock before its oldest frames are dropped.
constexpr std::size_t kMaxQueuedFrames = PulseCapture::kRate / 2;

bool writeAll(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(STDOUT_FILENO, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            LogLine() << "[win-helper] Write to stdout failed (pipe closed)";
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool startStdinReader() {
    try {
        std::thread([] {
            runStdinReader([](char* buffer, std::size_t capacity) -> std::size_t {
                for (;;) {
                    const ssize_t got = read(STDIN_FILENO, buffer, capacity);
                    if (got < 0 && errno == EINTR) {
                        continue;
                    }
                    return got > 0 ? static_cast<std::size_t>(got) : 0;
                }
            });
        }).detach();
        return true;
    } catch (const std::exception& error) {
        LogLine() << "[win-helper] Failed to start the stdin reader thread: " << error.what();
        return false;
    }
}

// Mixes a tick from every stream on a steady clock and writes it, until the capture stops.
// A clock that fell behind (a suspended process) catches up with the ticks it owes, so the
// stream's length follows the time that passed.
void runMixingLoop(StreamMixer& mixer, PcmDownconverter& converter) {
    std::vector<float> mix(mixer.tickFrames());
    auto next = std::chrono::steady_clock::now();
    while (g_captureLoopActive.load()) {
        next += kTick;
        g_runSignal.waitFor(next - std::chrono::steady_clock::now(), [] { return !g_captureLoopActive.load(); });
        if (!g_captureLoopActive.load()) {
            return;
        }
        mixer.mix(mix.data());
        const auto& bytes = converter.convert(reinterpret_cast<const std::uint8_t*>(mix.data()),
                                              static_cast<std::uint32_t>(mix.size()), 0);
        if (!writeAll(bytes.data(), bytes.size())) {
            g_captureLoopActive.exchange(false);
            return;
        }
    }
}

}  // namespace

int runLinuxCapture(std::uint32_t pid, bool includeMode, ResampleQuality quality) {
    std::string error;
    const std::unique_ptr<PulseConnection> pulse = PulseConnection::open("Quillmere", error);
    if (!pulse) {
        LogLine() << "[win-helper] Failed to connect to the sound server: " << error;
        return 1;
    }
    // The line the Windows program writes when it activates the capture for the target.
    LogLine() << (includeMode ? "[win-helper] Including PID: " : "[win-helper] Excluding PID: ") << pid;
    const std::optional<PulseConnection::Sink> sink = pulse->defaultSink();
    if (!sink) {
        LogLine() << "[win-helper] The sound server has no default sink";
        return 1;
    }

    // Set before the reader can run, so a stop it reads at once is never overwritten.
    g_captureLoopActive.exchange(true);
    g_includeMode.exchange(includeMode);
    if (!startStdinReader()) {
        return 1;
    }
    // The guardian before the ducking thread, so that it watches before anything is lowered.
    startLinuxGuardian();
    PulseSessionVolumes sessions(*pulse);
    DuckingEngine engine(sessions, currentProcessIdentity());
    std::thread ducking;
    try {
        ducking = std::thread([&engine, pid] { engine.run(pid); });
    } catch (const std::exception& failure) {
        LogLine() << "[win-helper] Failed to start the ducking thread: " << failure.what();
        return 1;
    }
    StreamMixer mixer(kTickFrames, kMaxQueuedFrames);
    PulseCapture capture(*pulse, mixer, pid, includeMode);
    capture.start();
    LogLine() << kCaptureStartedLine;
    LogLine() << kTargetPidLinePrefix << pid;
    LogLine() << formatLineText({PulseCapture::kRate, sink->format.channels, 32, true});
    PcmDownconverter converter({PulseCapture::kRate, 1, 32, true}, quality);
    runMixingLoop(mixer, converter);

    // Every end comes here: a stop command, a closed output, a signal.
    capture.stop();
    requestWorkersStop();
    ducking.join();
    engine.restore();
    return 0;
}
