#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "capture/stream_mixer.h"
#include "common/pulse_connection_linux.h"

// Records the applications the capture mode selects from the monitors of the sinks they play
// to: include mode takes the sink inputs of the target and its descendants, exclude mode every
// other one except those of the program's own tree. Where nothing a sink plays must be left out
// (and it plays at full volume), its whole monitor is recorded once; elsewhere each selected sink
// input has a record stream of its own, isolated to it (sinkRecording). Either is recorded in the
// sink's own channel map (no remix by the server, so no change of level), at the mixing rate,
// averaged to mono here and queued in the mixer. Sink inputs that appear, change, move to another
// sink or leave are followed, and so are sinks.
// A sink input that appears or changes is placed only once the server has described it. Until
// every such one is placed, what the whole monitors bring is held back: a stream to be left out
// is heard only after its prebuffer, so its audio can reach a monitor only after its appearance
// was told, and what came before it is safe. Once a stream to be left out is placed on a sink
// whose monitor was recorded, what was held from that sink is dropped and its selected streams
// are recorded each on its own; the time until they bring audio is counted as lost. When the
// last such stream leaves, the monitor is recorded again, and the streams' own recordings end
// once its audio reaches the mix.
// A sink input's process is its owner (streamOwner): its own, else its client's.
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
    // A record stream of one sink input, or of a sink's whole monitor. Its owner takes it out of
    // the mixer before it is released.
    struct Recording {
        PulseCapture* owner = nullptr;
        std::uint32_t mixerId = 0;
        std::uint32_t sink = 0;
        std::uint32_t channels = 0;
        bool wholeSink = false;
        bool heard = false;  // a whole monitor's audio has reached the mix
        std::unique_ptr<pa_stream, StreamRelease> stream;
        std::vector<float> mono;
        std::vector<float> held;  // a whole monitor's audio, held back while a sink input is not placed
        // The bytes that came from the server, holes included; those it skipped, as told so far.
        std::int64_t received = 0;
        std::int64_t skipped = 0;
        std::chrono::steady_clock::time_point nextTiming;
        // The last request for the stream's timing; released before the stream.
        std::unique_ptr<pa_operation, OperationCancel> timing;
    };
    enum class Role { Recorded, Excluded, Own };
    struct Input {
        std::uint32_t sink = 0;
        Role role = Role::Recorded;
    };
    struct Sink {
        bool known = false;  // its description came
        PulseConnection::Sink description;
        std::unique_ptr<Recording> monitor;
        // When its monitor's audio last reached the mix before the monitor was cut off for a
        // stream to be left out, until a stream of its own brings audio again.
        std::optional<std::chrono::steady_clock::time_point> cutAt;
    };

    // Loop thread from here on.
    void onEvent(pa_subscription_event_type_t event, std::uint32_t index);
    void requestInput(std::uint32_t index);
    void requestSink(std::uint32_t index);
    void consider(PulseConnection::SinkInput input);
    // Records what the sink's streams call for (sinkRecording).
    void arrange(std::uint32_t sink);
    // A description of the sink input came and placed it: held audio goes to the mix once none
    // is left to place.
    void settle(std::uint32_t input);
    void releaseHeld();
    void forgetInput(std::uint32_t input);
    void forgetSink(std::uint32_t sink);
    std::unique_ptr<Recording> open(const PulseConnection::Sink& sink, std::uint32_t input);
    void release(std::unique_ptr<Recording>& recording);
    // The sink's monitor ends; `forExcluded`: for a stream to be left out, what follows until its
    // streams' own recordings bring audio is lost.
    void cutMonitor(Sink& sink, bool forExcluded);
    void dropInputRecordings(std::uint32_t sink);
    // A whole monitor's audio reached the mix: the sink's streams need no recordings of their
    // own, and the monitor takes over from them.
    void heard(Recording& monitor);
    void deliver(Recording& recording, std::size_t frames);
    // Every recording ends, and the watch of sinks.
    void dropAll();
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
    std::uint32_t nextMixerId_ = 1;
    std::map<std::uint32_t, Input> inputs_;
    std::map<std::uint32_t, Sink> sinks_;
    // The sink inputs' own recordings.
    std::map<std::uint32_t, std::unique_ptr<Recording>> recordings_;
    // Sink inputs that appeared or changed and are not placed yet, each with the descriptions
    // asked for it and not come; since when there were any.
    std::map<std::uint32_t, unsigned> unsettled_;
    std::chrono::steady_clock::time_point unsettledSince_;
    // The sink inputs the first listing named, placed once it is whole.
    std::vector<PulseConnection::SinkInput> listed_;
};
