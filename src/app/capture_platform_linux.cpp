#include "app/capture_platform_linux.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "app/stdin_protocol.h"
#include "capture/held_write_watch.h"
#include "common/log.h"
#include "common/protocol_text.h"

namespace {

constexpr auto kTick = std::chrono::milliseconds(10);
// Cuts a held write short; nothing else sends it here (by default it is ignored).
constexpr int kInterruptSignal = SIGURG;
constexpr std::size_t kTickFrames = PulseCapture::kRate / 100;
// A stream may run this far ahead of the clock before its oldest frames are dropped.
constexpr std::size_t kMaxQueuedFrames = PulseCapture::kRate / 2;
// How often the mix's lost audio is taken for the status lines: streams that lose frames in the
// same second lose the same stretch of the mix.
constexpr unsigned kTicksPerLossCount = 100;

// How long a lost server has to answer again, and how often a new connection is tried meanwhile.
constexpr auto kReconnectLimit = std::chrono::seconds(30);
constexpr auto kReconnectInterval = std::chrono::milliseconds(500);

// Follows the connection through the loss of its server, one step per tick of the capture's
// clock, which goes on meanwhile: the capture's recordings end, a new connection is tried every
// kReconnectInterval, and once one is made the capture starts afresh on it (the ducking finds the
// new server's streams by itself). No step waits for the server.
class ServerWatch {
public:
    ServerWatch(PulseConnection& pulse, PulseCapture& capture) : pulse_(pulse), capture_(capture) {}

    // False, with a line, when the server did not come back in time: the capture ends.
    bool step(std::chrono::steady_clock::time_point now) {
        if (phase_ == Phase::Connected) {
            if (!pulse_.lost()) {
                return true;
            }
            LogLine() << kServerLostPrefix << pulse_.lostReason();
            capture_.serverLost();
            lostAt_ = now;
            nextTry_ = now;
            phase_ = Phase::Waiting;
        }
        if (phase_ == Phase::Waiting && now >= nextTry_) {
            pulse_.reconnect();
            phase_ = Phase::Connecting;
        }
        if (phase_ == Phase::Connecting) {
            switch (pulse_.reconnection()) {
                case PulseConnection::Reconnection::Pending: break;
                case PulseConnection::Reconnection::Ready:
                    LogLine() << kServerReconnectedLine;
                    capture_.start();
                    phase_ = Phase::Connected;
                    return true;
                case PulseConnection::Reconnection::Failed:
                    nextTry_ = now + kReconnectInterval;
                    phase_ = Phase::Waiting;
                    break;
            }
        }
        if (now - lostAt_ >= kReconnectLimit) {
            LogLine() << kServerNotBackLine;
            return false;
        }
        return true;
    }

private:
    enum class Phase { Connected, Waiting, Connecting };
    PulseConnection& pulse_;
    PulseCapture& capture_;
    Phase phase_ = Phase::Connected;
    std::chrono::steady_clock::time_point lostAt_;
    std::chrono::steady_clock::time_point nextTry_;
};

// Standard output, written as the host takes it. A write held past the stop is cut short by a
// signal sent to the capture thread (kInterruptSignal, whose handler does nothing and is set
// without SA_RESTART, so the write returns with EINTR).
class StdoutSink final : public SampleSink {
public:
    explicit StdoutSink(RunState& state)
        : captureThread_(pthread_self()), watch_(state, [this] { pthread_kill(captureThread_, kInterruptSignal); }) {}

    bool write(const std::uint8_t* data, std::size_t size) override {
        watch_.writeBegins();
        bool delivered = true;
        while (size > 0 && !givenUp_) {
            const ssize_t written = ::write(STDOUT_FILENO, data, size);
            if (written < 0 && errno == EINTR) {
                givenUp_ = watch_.stopping();
                continue;
            }
            if (written <= 0) {
                delivered = false;
                break;
            }
            data += written;
            size -= static_cast<std::size_t>(written);
        }
        watch_.writeEnds();
        if (!delivered) {
            LogLine() << kStdoutClosedLine;
        }
        return delivered;
    }

private:
    const pthread_t captureThread_;
    bool givenUp_ = false;
    HeldWriteWatch watch_;
};

// Mixes a tick from every stream on a steady clock and writes it, until the capture stops (or its
// server is gone for good).
// A clock that fell behind (a suspended process, a host that did not read) catches up with the
// ticks it owes, so the stream's length follows the time that passed; what the streams' queues
// could not hold meanwhile is lost, and counted so.
void runMixingLoop(StreamMixer& mixer, PcmDownconverter& converter, SampleSink& sink, ServerWatch& server,
                   RunState& state) {
    std::vector<float> mix(mixer.tickFrames());
    const auto stopped = [&state] { return !state.loopActive.load(); };
    auto next = std::chrono::steady_clock::now();
    for (unsigned ticks = 1; !stopped(); ++ticks) {
        next += kTick;
        state.signal.waitFor(next - std::chrono::steady_clock::now(), stopped);
        if (stopped()) {
            return;
        }
        mixer.mix(mix.data());
        if (ticks % kTicksPerLossCount == 0) {
            state.health.addLostFrames(mixer.takeLostFrames(), PulseCapture::kRate);
        }
        const auto& bytes = converter.convert(reinterpret_cast<const std::uint8_t*>(mix.data()),
                                              static_cast<std::uint32_t>(mix.size()), 0);
        if (!sink.write(bytes.data(), bytes.size()) || !server.step(std::chrono::steady_clock::now())) {
            state.endLoop();
            return;
        }
    }
}

}  // namespace

bool LinuxCapturePlatform::open(std::uint32_t pid, bool includeMode) {
    std::string error;
    pulse_ = PulseConnection::open("Quillmere", error);
    if (!pulse_) {
        LogLine() << kServerUnreachablePrefix << error;
        return false;
    }
    // The line the Windows program writes when it activates the capture for the target.
    LogLine() << activationLine(includeMode, pid);
    sink_ = pulse_->defaultSink();
    if (!sink_) {
        LogLine() << kNoDefaultSinkLine;
        return false;
    }
    pid_ = pid;
    includeMode_ = includeMode;
    sessions_.attach(*pulse_);
    return true;
}

FormatSummary LinuxCapturePlatform::reportedFormat() const {
    return {PulseCapture::kRate, sink_->format.channels, 32, true};
}

FormatSummary LinuxCapturePlatform::deliveredFormat() const {
    // The streams are averaged to mono before the mix.
    return {PulseCapture::kRate, 1, 32, true};
}

void LinuxCapturePlatform::capture(RunState& state, PcmDownconverter& converter) {
    mixer_ = std::make_unique<StreamMixer>(kTickFrames, kMaxQueuedFrames);
    capture_ = std::make_unique<PulseCapture>(*pulse_, *mixer_, pid_, includeMode_);
    capture_->start();
    struct sigaction interrupt = {};
    interrupt.sa_handler = [](int) {};
    sigemptyset(&interrupt.sa_mask);
    sigaction(kInterruptSignal, &interrupt, nullptr);
    StdoutSink sink(state);
    ServerWatch server(*pulse_, *capture_);
    runMixingLoop(*mixer_, converter, sink, server, state);
    capture_->stop();
}

void LinuxCapturePlatform::readCommands(RunState& state) {
    runStdinReader(
        [](char* buffer, std::size_t capacity) -> std::size_t {
            for (;;) {
                const ssize_t got = read(STDIN_FILENO, buffer, capacity);
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                return got > 0 ? static_cast<std::size_t>(got) : 0;
            }
        },
        state);
}
