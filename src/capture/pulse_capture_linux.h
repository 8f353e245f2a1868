#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "capture/stream_mixer.h"
#include "common/pulse_connection_linux.h"

// Records the applications the capture mode selects, each through its own stream on the monitor
// of the sink it plays to, isolated to that application's sink input; include mode takes the
// sink inputs of the target and its descendants, exclude mode every other one except those of
// the program's own tree. Each stream is recorded in its sink's own channel map (no remix by the
// server, so no change of level), at the mixing rate, averaged to mono here and queued in the
// mixer. Sink inputs that appear, move to another sink or leave are followed. A sink input's
// process is its owner (streamOwner): its own, else its client's.
class PulseCapture {
public:
    // 48 kHz float: what the streams are recorded as before the mix-down.
    static constexpr std::uint32_t kRate = 48000;

    PulseCapture(PulseConnection& pulse, StreamMixer& mixer, std::uint32_t targetPid, bool includeMode);
    ~PulseCapture();
    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    // Subscribes to sink input changes and records the sink inputs present now; again after
    // serverLost, on the connection made anew.
    void start();
    // The server went away: every recording ends (the mixer's clock goes on, silent).
    void serverLost();
    // Ends every recording. Answers to requests still under way may come afterwards, on the
    // loop thread, and find the capture stopped: it must outlive its connection's loop.
    void stop();

private:
    // A record stream, released with its read callback cleared and disconnected.
    struct StreamRelease {
        void operator()(pa_stream* stream) const {
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
    };
    struct Recording {
        PulseCapture* owner = nullptr;
        std::uint32_t input = 0;
        std::uint32_t sink = 0;
        std::uint32_t channels = 0;
        std::unique_ptr<pa_stream, StreamRelease> stream;
        std::vector<float> mono;
    };

    // Loop thread from here on.
    void consider(PulseConnection::SinkInput input);
    void record(std::uint32_t input, const PulseConnection::Sink& sink);
    void drop(std::uint32_t input);
    // Every recording ends, and the watch of sink inputs.
    void dropAll();
    void requestInput(std::uint32_t index);
    static void onRead(pa_stream* stream, std::size_t bytes, void* user);

    PulseConnection& pulse_;
    StreamMixer& mixer_;
    const std::uint32_t targetPid_;
    const bool includeMode_;
    const std::uint32_t ownPid_;
    bool stopped_ = false;
    std::map<std::uint32_t, std::unique_ptr<Recording>> recordings_;
};
