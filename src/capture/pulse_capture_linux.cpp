#include "capture/pulse_capture_linux.h"

#include <cstring>

#include "capture/sink_recording.h"
#include "common/process_identity.h"
#include "common/process_table.h"

namespace {

constexpr std::uint32_t kFragmentFrames = PulseCapture::kRate / 50;  // 20 ms
constexpr auto kTimingInterval = std::chrono::seconds(1);
// The most of a whole monitor's audio held back while a sink input is not placed; a server that
// takes longer to describe it loses the oldest.
constexpr std::size_t kMaxHeldFrames = PulseCapture::kRate / 2;

// A request on behalf of one sink input or sink; `described`: an answer named it.
struct Request {
    PulseCapture* capture;
    std::uint32_t index;
    bool described = false;
};

}  // namespace

PulseCapture::PulseCapture(PulseConnection& pulse, StreamMixer& mixer, std::uint32_t targetPid, bool includeMode)
    : pulse_(pulse), mixer_(mixer), targetPid_(targetPid), includeMode_(includeMode), ownPid_(currentProcessId()) {}

PulseCapture::~PulseCapture() {
    stop();
}

void PulseCapture::start() {
    const PulseConnection::Lock lock(pulse_);
    pulse_.watchSinks([](pa_subscription_event_type_t event, std::uint32_t index,
                         void* user) { static_cast<PulseCapture*>(user)->onEvent(event, index); },
                      this);
    // The sink inputs there are now, each placed once all are known: no monitor is recorded
    // before every stream to be left out is.
    listed_.clear();
    pa_operation* operation = pa_context_get_sink_input_info_list(
        pulse_.context(),
        [](pa_context*, const pa_sink_input_info* info, int last, void* user) {
            auto* self = static_cast<PulseCapture*>(user);
            if (last == 0 && info != nullptr) {
                self->listed_.push_back(PulseConnection::describe(*info));
                ++self->unsettled_[info->index];
                return;
            }
            std::vector<PulseConnection::SinkInput> listed;
            listed.swap(self->listed_);
            for (PulseConnection::SinkInput& input : listed) {
                if (!self->stopped_ && self->unsettled_.count(input.index) != 0) {
                    self->consider(std::move(input));
                }
            }
        },
        this);
    if (operation != nullptr) {
        unsettledSince_ = std::chrono::steady_clock::now();
        pa_operation_unref(operation);
    }
}

void PulseCapture::stop() {
    const PulseConnection::Lock lock(pulse_);
    if (stopped_) {
        return;
    }
    stopped_ = true;
    dropAll();
}

void PulseCapture::serverLost() {
    const PulseConnection::Lock lock(pulse_);
    dropAll();
}

void PulseCapture::dropAll() {
    pulse_.watchSinks(nullptr, nullptr);
    for (auto& [index, recording] : recordings_) {
        release(recording);
    }
    recordings_.clear();
    for (auto& [index, sink] : sinks_) {
        release(sink.monitor);
    }
    sinks_.clear();
    inputs_.clear();
    unsettled_.clear();
    listed_.clear();
}

void PulseCapture::onEvent(pa_subscription_event_type_t event, std::uint32_t index) {
    const bool removed = (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
    if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK) {
        if (removed) {
            forgetSink(index);
        } else if (sinks_.count(index) != 0) {
            requestSink(index);
        }
        return;
    }
    if (removed) {
        forgetInput(index);
        return;
    }
    if (unsettled_.empty()) {
        unsettledSince_ = std::chrono::steady_clock::now();
    }
    ++unsettled_[index];
    requestInput(index);
}

void PulseCapture::requestInput(std::uint32_t index) {
    auto request = std::make_unique<Request>(Request{this, index});
    pa_operation* operation = pa_context_get_sink_input_info(
        pulse_.context(), index,
        [](pa_context*, const pa_sink_input_info* info, int last, void* user) {
            auto* pending = static_cast<Request*>(user);
            PulseCapture* self = pending->capture;
            if (last == 0 && info != nullptr) {
                pending->described = true;
                if (!self->stopped_) {
                    self->consider(PulseConnection::describe(*info));
                }
                return;
            }
            if (!pending->described && !self->stopped_) {
                self->forgetInput(pending->index);  // gone before it was described
            }
            delete pending;
        },
        request.get());
    if (operation == nullptr) {
        forgetInput(index);
        return;
    }
    request.release();  // the callback's now
    pa_operation_unref(operation);
}

void PulseCapture::requestSink(std::uint32_t index) {
    auto request = std::make_unique<Request>(Request{this, index});
    pa_operation* operation = pa_context_get_sink_info_by_index(
        pulse_.context(), index,
        [](pa_context*, const pa_sink_info* info, int last, void* user) {
            auto* pending = static_cast<Request*>(user);
            PulseCapture* self = pending->capture;
            if (last != 0 || info == nullptr) {
                delete pending;  // the end of the answer (or no such sink): the request is done
                return;
            }
            const auto found = self->sinks_.find(pending->index);
            if (!self->stopped_ && found != self->sinks_.end()) {
                found->second.known = true;
                found->second.description = PulseConnection::describe(*info);
                self->arrange(pending->index);
            }
        },
        request.get());
    if (operation != nullptr) {
        request.release();  // the callback's now
        pa_operation_unref(operation);
    }
}

void PulseCapture::consider(PulseConnection::SinkInput input) {
    if (!pulse_.resolveOwner(input)) {
        // A stream that names no process: its client's properties first, then a fresh look.
        auto request = std::make_unique<Request>(Request{this, input.index});
        if (pulse_.requestClient(
                input.client,
                [](void* user) {
                    const std::unique_ptr<Request> pending(static_cast<Request*>(user));
                    if (!pending->capture->stopped_) {
                        pending->capture->requestInput(pending->index);
                    }
                },
                request.get())) {
            request.release();  // the callback's now
            return;
        }
        pulse_.resolveOwner(input);
    }
    Input placed{input.sink, Role::Own};
    if (input.pid != ownPid_) {
        placed.role = isRecordedProcess(input.pid, targetPid_, includeMode_, snapshotProcesses(), ownPid_)
                          ? Role::Recorded
                          : Role::Excluded;
    }
    const auto known = inputs_.find(input.index);
    std::optional<std::uint32_t> left;
    if (known != inputs_.end() && (known->second.sink != placed.sink || known->second.role != placed.role)) {
        // It moved, or it is seen otherwise now: its own recording, if any, is for what it was.
        const auto recording = recordings_.find(input.index);
        if (recording != recordings_.end()) {
            release(recording->second);
            recordings_.erase(recording);
        }
        if (known->second.sink != placed.sink) {
            left = known->second.sink;
        }
    }
    inputs_[input.index] = placed;
    if (sinks_.count(placed.sink) == 0) {
        sinks_[placed.sink];
        requestSink(placed.sink);
    }
    if (left) {
        arrange(*left);
    }
    arrange(placed.sink);
    settle(input.index);
}

void PulseCapture::arrange(std::uint32_t index) {
    const auto found = sinks_.find(index);
    if (found == sinks_.end() || !found->second.known) {
        return;
    }
    Sink& sink = found->second;
    SinkStreams streams;
    streams.fullVolume = sink.description.fullVolume;
    for (const auto& [input, placed] : inputs_) {
        if (placed.sink == index) {
            streams.recorded += placed.role == Role::Recorded ? 1 : 0;
            streams.excluded += placed.role == Role::Excluded ? 1 : 0;
        }
    }
    switch (sinkRecording(streams)) {
        case SinkRecording::Nothing:
            cutMonitor(sink, false);
            dropInputRecordings(index);
            break;
        case SinkRecording::Monitor:
            // The streams' own recordings, if any, go on until the monitor's audio reaches the mix.
            if (!sink.monitor) {
                sink.monitor = open(sink.description, PA_INVALID_INDEX);
            }
            break;
        case SinkRecording::EachStream:
            cutMonitor(sink, true);
            for (const auto& [input, placed] : inputs_) {
                if (placed.sink == index && placed.role == Role::Recorded && recordings_.count(input) == 0) {
                    if (auto recording = open(sink.description, input)) {
                        recordings_[input] = std::move(recording);
                    }
                }
            }
            break;
    }
}

void PulseCapture::settle(std::uint32_t input) {
    const auto found = unsettled_.find(input);
    if (found != unsettled_.end() && --found->second == 0) {
        unsettled_.erase(found);
        releaseHeld();
    }
}

void PulseCapture::releaseHeld() {
    if (!unsettled_.empty()) {
        return;
    }
    for (auto& [index, sink] : sinks_) {
        if (sink.monitor && !sink.monitor->held.empty()) {
            mixer_.push(sink.monitor->mixerId, sink.monitor->held.data(), sink.monitor->held.size());
            sink.monitor->held.clear();
            heard(*sink.monitor);
        }
    }
}

void PulseCapture::forgetInput(std::uint32_t input) {
    if (unsettled_.count(input) != 0 && inputs_.count(input) == 0) {
        // Gone before it was placed: it may have been one to leave out, and played meanwhile.
        for (auto& [index, sink] : sinks_) {
            if (sink.monitor && !sink.monitor->held.empty()) {
                mixer_.lose(sink.monitor->mixerId, sink.monitor->held.size());
                sink.monitor->held.clear();
            }
        }
    }
    const auto recording = recordings_.find(input);
    if (recording != recordings_.end()) {
        release(recording->second);
        recordings_.erase(recording);
    }
    const auto found = inputs_.find(input);
    if (found != inputs_.end()) {
        const std::uint32_t sink = found->second.sink;
        inputs_.erase(found);
        arrange(sink);
    }
    if (unsettled_.erase(input) != 0) {
        releaseHeld();
    }
}

void PulseCapture::forgetSink(std::uint32_t index) {
    const auto found = sinks_.find(index);
    if (found == sinks_.end()) {
        return;
    }
    release(found->second.monitor);
    sinks_.erase(found);
    dropInputRecordings(index);
}

std::unique_ptr<PulseCapture::Recording> PulseCapture::open(const PulseConnection::Sink& sink, std::uint32_t input) {
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, sink.map.channels};
    pa_stream* stream = pa_stream_new(pulse_.context(), "Quillmere capture", &format, &sink.map);
    if (stream == nullptr) {
        return nullptr;
    }
    auto recording = std::make_unique<Recording>();
    recording->owner = this;
    recording->mixerId = nextMixerId_++;
    recording->sink = sink.index;
    recording->channels = sink.map.channels;
    recording->wholeSink = input == PA_INVALID_INDEX;
    recording->stream.reset(stream);
    recording->nextTiming = std::chrono::steady_clock::now() + kTimingInterval;
    if (!recording->wholeSink) {
        pa_stream_set_monitor_stream(stream, input);
    }
    pa_stream_set_read_callback(stream, onRead, recording.get());
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xFF, sizeof attributes);  // the server's choice for all but the fragment
    attributes.fragsize = static_cast<std::uint32_t>(kFragmentFrames * pa_frame_size(&format));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, sink.monitorSource.c_str(), &attributes, flags) < 0) {
        return nullptr;
    }
    mixer_.addStream(recording->mixerId);
    return recording;
}

void PulseCapture::release(std::unique_ptr<Recording>& recording) {
    if (recording) {
        mixer_.removeStream(recording->mixerId);
        recording.reset();
    }
}

void PulseCapture::cutMonitor(Sink& sink, bool forExcluded) {
    if (!sink.monitor) {
        return;
    }
    if (forExcluded && sink.monitor->heard) {
        // What reached the mix plays out; what was held since the stream appeared is dropped.
        sink.cutAt = sink.monitor->held.empty() ? std::chrono::steady_clock::now() : unsettledSince_;
        mixer_.endStream(sink.monitor->mixerId);
        sink.monitor.reset();
        return;
    }
    release(sink.monitor);
}

void PulseCapture::dropInputRecordings(std::uint32_t sink) {
    for (auto recording = recordings_.begin(); recording != recordings_.end();) {
        if (recording->second->sink == sink) {
            release(recording->second);
            recording = recordings_.erase(recording);
        } else {
            ++recording;
        }
    }
}

void PulseCapture::heard(Recording& monitor) {
    if (!monitor.heard) {
        monitor.heard = true;
        // The streams' own recordings end; what they hold plays on until the monitor takes over.
        std::vector<std::uint32_t> replaced;
        for (auto recording = recordings_.begin(); recording != recordings_.end();) {
            if (recording->second->sink == monitor.sink) {
                replaced.push_back(recording->second->mixerId);
                recording = recordings_.erase(recording);
            } else {
                ++recording;
            }
        }
        mixer_.handOver(replaced, monitor.mixerId);
        const auto sink = sinks_.find(monitor.sink);
        if (sink != sinks_.end()) {
            sink->second.cutAt.reset();
        }
    }
}

void PulseCapture::deliver(Recording& recording, std::size_t frames) {
    const float* mono = recording.mono.data();
    if (recording.wholeSink) {
        if (!unsettled_.empty()) {
            std::vector<float>& held = recording.held;
            held.insert(held.end(), mono, mono + frames);
            if (held.size() > kMaxHeldFrames) {
                const std::size_t excess = held.size() - kMaxHeldFrames;
                mixer_.lose(recording.mixerId, excess);
                held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(excess));
            }
            return;
        }
        mixer_.push(recording.mixerId, mono, frames);
        heard(recording);
        return;
    }
    mixer_.push(recording.mixerId, mono, frames);
    const auto sink = sinks_.find(recording.sink);
    if (sink != sinks_.end() && sink->second.cutAt) {
        // The first audio since the sink's monitor was cut off: the time between, less what
        // this brings, is what the mix went without.
        const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                               *sink->second.cutAt);
        const std::int64_t missing = gap.count() * kRate / 1000000 - static_cast<std::int64_t>(frames);
        if (missing > 0) {
            mixer_.lose(recording.mixerId, static_cast<std::size_t>(missing));
        }
        sink->second.cutAt.reset();
    }
}

void PulseCapture::onRead(pa_stream* stream, std::size_t, void* user) {
    auto* recording = static_cast<Recording*>(user);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        const std::size_t frameBytes = sizeof(float) * recording->channels;
        const std::size_t frames = bytes / frameBytes;
        recording->mono.assign(frames, 0.0f);
        if (data != nullptr) {
            // Every channel of the sink's own map, averaged: a mono player duplicated on both
            // channels of a stereo sink comes back at its own level.
            const auto* samples = static_cast<const float*>(data);
            for (std::size_t frame = 0; frame < frames; ++frame) {
                float sum = 0.0f;
                for (std::uint32_t channel = 0; channel < recording->channels; ++channel) {
                    float value;
                    std::memcpy(&value, samples + frame * recording->channels + channel, sizeof value);
                    sum += value;
                }
                recording->mono[frame] = sum / static_cast<float>(recording->channels);
            }
        }  // a hole in the stream is silence
        recording->received += static_cast<std::int64_t>(bytes);
        pa_stream_drop(stream);
        recording->owner->deliver(*recording, frames);
    }
    askTiming(*recording);
}

void PulseCapture::askTiming(Recording& recording) {
    const auto now = std::chrono::steady_clock::now();
    if (now < recording.nextTiming ||
        (recording.timing && pa_operation_get_state(recording.timing.get()) == PA_OPERATION_RUNNING)) {
        return;
    }
    recording.nextTiming = now + kTimingInterval;
    recording.timing.reset(pa_stream_update_timing_info(
        recording.stream.get(),
        [](pa_stream* stream, int success, void* user) {
            auto* answered = static_cast<Recording*>(user);
            const pa_timing_info* timing = success != 0 ? pa_stream_get_timing_info(stream) : nullptr;
            if (timing == nullptr || timing->read_index_corrupt != 0) {
                return;
            }
            // The answer comes after every byte the server sent before it, all read by now
            // (libpulse takes what still waits here off the index).
            const auto frameBytes = static_cast<std::int64_t>(sizeof(float) * answered->channels);
            const std::int64_t frames = (timing->read_index - answered->received - answered->skipped) / frameBytes;
            if (frames > 0) {
                answered->owner->mixer_.lose(answered->mixerId, static_cast<std::size_t>(frames));
                answered->skipped += frames * frameBytes;
            }
        },
        &recording));
}
