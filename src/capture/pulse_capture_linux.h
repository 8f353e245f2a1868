#pragma once

#include <chrono>
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
// Audio the server drops on the way tells the mixer as lost where the server shows it: a record
// stream's overflow is never reported to its client (libpulse passes overflows to playback
// streams alone), but a server that skips what the program did not read in time (PipeWire's
// pulse server, once its buffer for the stream is full) moves the stream's read index past what
// it sent. Once a second each stream's timing is asked for, and the read index beyond the bytes
// that came is what the server skipped. PulseAudio drops such audio before it counts it, and
// shows nothing.
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
    // A request under way, released cancelled: its callback is never called afterwards.
    struct OperationCancel {
        void operator()(pa_operation* operation) const {
            if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
                pa_operation_cancel(operation);
            }
            pa_operation_unref(operation);
        }
    };
    struct Recording {
        PulseCapture* owner = nullptr;
        std::uint32_t input = 0;
        std::uint32_t sink = 0;
        std::uint32_t channels = 0;
        std::unique_ptr<pa_stream, StreamRelease> stream;
        std::vector<float> mono;
        // The bytes that came from the server, holes included; those it skipped, as told so far.
        std::int64_t received = 0;
        std::int64_t skipped = 0;
        std::chrono::steady_clock::time_point nextTiming;
        // The last request for the stream's timing; released before the stream.
        std::unique_ptr<pa_operation, OperationCancel> timing;
    };

    // Loop thread from here on.
    void consider(PulseConnection::SinkInput input);
    void record(std::uint32_t input, const PulseConnection::Sink& sink);
    void drop(std::uint32_t input);
    // Every recording ends, and the watch of sink inputs.
    void dropAll();
    void requestInput(std::uint32_t index);
    static void onRead(pa_stream* stream, std::size_t bytes, void* user);
    // Asks for the stream's timing, at most once a second; the answer tells the mixer what the
    // server skipped since the last one.
    static void askTiming(Recording& recording);

    PulseConnection& pulse_;
    StreamMixer& mixer_;
    const std::uint32_t targetPid_;
    const bool includeMode_;
    const std::uint32_t ownPid_;
    bool stopped_ = false;
    std::map<std::uint32_t, std::unique_ptr<Recording>> recordings_;
};
