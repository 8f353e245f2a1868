#include "capture/pulse_capture_linux.h"

#include <cstring>

#include "common/process_identity.h"
#include "common/process_table.h"

namespace {

constexpr std::uint32_t kFragmentFrames = PulseCapture::kRate / 50;  // 20 ms
constexpr auto kTimingInterval = std::chrono::seconds(1);

// A request on behalf of one sink input (for its sink, or for its client's properties).
struct SinkRequest {
    PulseCapture* capture;
    std::uint32_t input;
    std::uint32_t sink;
};

}  // namespace

PulseCapture::PulseCapture(PulseConnection& pulse, StreamMixer& mixer, std::uint32_t targetPid, bool includeMode)
    : pulse_(pulse), mixer_(mixer), targetPid_(targetPid), includeMode_(includeMode), ownPid_(currentProcessId()) {}

PulseCapture::~PulseCapture() {
    stop();
}

void PulseCapture::start() {
    const PulseConnection::Lock lock(pulse_);
    pulse_.watchSinkInputs(
        [](pa_subscription_event_type_t event, std::uint32_t index, void* user) {
            auto* self = static_cast<PulseCapture*>(user);
            if ((event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
                self->drop(index);
            } else {
                self->requestInput(index);
            }
        },
        this);
    pa_operation* operation = pa_context_get_sink_input_info_list(
        pulse_.context(),
        [](pa_context*, const pa_sink_input_info* info, int last, void* user) {
            if (last == 0 && info != nullptr) {
                static_cast<PulseCapture*>(user)->consider(PulseConnection::describe(*info));
            }
        },
        this);
    if (operation != nullptr) {
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
    pulse_.watchSinkInputs(nullptr, nullptr);
    while (!recordings_.empty()) {
        drop(recordings_.begin()->first);
    }
}

void PulseCapture::requestInput(std::uint32_t index) {
    pa_operation* operation = pa_context_get_sink_input_info(
        pulse_.context(), index,
        [](pa_context*, const pa_sink_input_info* info, int last, void* user) {
            auto* self = static_cast<PulseCapture*>(user);
            if (last == 0 && info != nullptr && !self->stopped_) {
                self->consider(PulseConnection::describe(*info));
            }
        },
        this);
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

void PulseCapture::consider(PulseConnection::SinkInput input) {
    if (!pulse_.resolveOwner(input)) {
        // A stream that names no process: its client's properties first, then a fresh look.
        auto request = std::make_unique<SinkRequest>(SinkRequest{this, input.index, 0});
        if (pulse_.requestClient(
                input.client,
                [](void* user) {
                    const std::unique_ptr<SinkRequest> pending(static_cast<SinkRequest*>(user));
                    if (!pending->capture->stopped_) {
                        pending->capture->requestInput(pending->input);
                    }
                },
                request.get())) {
            request.release();  // the callback's now
            return;
        }
        pulse_.resolveOwner(input);
    }
    const bool wanted = isRecordedProcess(input.pid, targetPid_, includeMode_, snapshotProcesses(), ownPid_);
    const auto found = recordings_.find(input.index);
    if (!wanted) {
        drop(input.index);
        return;
    }
    if (found != recordings_.end() && found->second->sink == input.sink) {
        return;
    }
    // A new sink input, or one that moved: record it on its sink's monitor.
    drop(input.index);
    auto request = std::make_unique<SinkRequest>(SinkRequest{this, input.index, input.sink});
    pa_operation* operation = pa_context_get_sink_info_by_index(
        pulse_.context(), input.sink,
        [](pa_context*, const pa_sink_info* info, int last, void* user) {
            auto* pending = static_cast<SinkRequest*>(user);
            if (last != 0 || info == nullptr) {
                delete pending;  // the end of the answer (or no such sink): the request is done
                return;
            }
            if (!pending->capture->stopped_) {
                pending->capture->record(pending->input, PulseConnection::describe(*info));
            }
        },
        request.get());
    if (operation != nullptr) {
        request.release();  // the callback's now
        pa_operation_unref(operation);
    }
}

void PulseCapture::record(std::uint32_t input, const PulseConnection::Sink& sink) {
    if (recordings_.count(input) != 0) {
        return;
    }
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, sink.map.channels};
    pa_stream* stream = pa_stream_new(pulse_.context(), "Quillmere capture", &format, &sink.map);
    if (stream == nullptr) {
        return;
    }
    auto recording = std::make_unique<Recording>();
    recording->owner = this;
    recording->input = input;
    recording->sink = sink.index;
    recording->channels = sink.map.channels;
    recording->stream.reset(stream);
    recording->nextTiming = std::chrono::steady_clock::now() + kTimingInterval;
    pa_stream_set_monitor_stream(stream, input);
    pa_stream_set_read_callback(stream, onRead, recording.get());
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xFF, sizeof attributes);  // the server's choice for all but the fragment
    attributes.fragsize = static_cast<std::uint32_t>(kFragmentFrames * pa_frame_size(&format));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, sink.monitorSource.c_str(), &attributes, flags) < 0) {
        return;
    }
    mixer_.addStream(input);
    recordings_[input] = std::move(recording);
}

void PulseCapture::drop(std::uint32_t input) {
    const auto found = recordings_.find(input);
    if (found == recordings_.end()) {
        return;
    }
    mixer_.removeStream(input);
    recordings_.erase(found);
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
        recording->owner->mixer_.push(recording->input, recording->mono.data(), frames);
        recording->received += static_cast<std::int64_t>(bytes);
        pa_stream_drop(stream);
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
                answered->owner->mixer_.lose(answered->input, static_cast<std::size_t>(frames));
                answered->skipped += frames * frameBytes;
            }
        },
        &recording));
}
