#include "common/pulse_connection_linux.h"

#include <pulse/ext-stream-restore.h>
#include <pulse/rtclock.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

std::string property(const pa_proplist* properties, const char* key) {
    const char* value = pa_proplist_gets(properties, key);
    return value == nullptr ? std::string() : std::string(value);
}

OwnerProperties ownerPropertiesOf(const pa_proplist* properties) {
    return {property(properties, PA_PROP_APPLICATION_PROCESS_ID),
            property(properties, PA_PROP_APPLICATION_PROCESS_BINARY), property(properties, "pipewire.sec.pid")};
}

// How module-stream-restore files an application's volume, in its order of preference: the stream
// property, the key's prefix, and whether this program's own stream can carry that property for
// the application (not an explicit id, nor a media name: its client always names an application,
// which would file it under another key).
struct RestoreKeyKind {
    const char* property;
    const char* prefix;
    bool standIn;
};
constexpr RestoreKeyKind kRestoreKeyKinds[] = {
    {"module-stream-restore.id", "", false},
    {PA_PROP_MEDIA_ROLE, "sink-input-by-media-role:", true},
    {PA_PROP_APPLICATION_ID, "sink-input-by-application-id:", true},
    {PA_PROP_APPLICATION_NAME, "sink-input-by-application-name:", true},
    {PA_PROP_MEDIA_NAME, "sink-input-by-media-name:", false},
};

// The name module-stream-restore files a stream's volume under, by its own rules.
std::string restoreKeyOf(const pa_proplist* properties) {
    for (const RestoreKeyKind& kind : kRestoreKeyKinds) {
        const std::string value = property(properties, kind.property);
        if (!value.empty()) {
            return kind.prefix + value;
        }
    }
    return {};
}

// The property and value a stand-in stream carries to be filed under `key`; no property where it
// cannot be.
std::pair<const char*, std::string> keyProperty(const std::string& key) {
    for (const RestoreKeyKind& kind : kRestoreKeyKinds) {
        const std::size_t length = std::strlen(kind.prefix);
        if (kind.standIn && key.size() > length && key.compare(0, length, kind.prefix) == 0) {
            return {kind.property, key.substr(length)};
        }
    }
    return {nullptr, {}};
}

// Whether a volume read back is the one set: PipeWire's pulse server keeps volumes as floats.
bool sameVolume(const pa_cvolume& read, const pa_cvolume& set) {
    if (read.channels != set.channels) {
        return false;
    }
    for (unsigned channel = 0; channel < set.channels; ++channel) {
        if (std::fabs(pa_sw_volume_to_linear(read.values[channel]) - pa_sw_volume_to_linear(set.values[channel])) >
            1e-4) {
            return false;
        }
    }
    return true;
}

// `volume` moved by 2e-5 of full scale per channel (at least one step; down from the upper half,
// else up): inaudible, and different in the six decimals PipeWire's pulse server keeps.
pa_cvolume offByAHair(const pa_cvolume& volume) {
    pa_cvolume moved = volume;
    for (unsigned channel = 0; channel < moved.channels; ++channel) {
        const pa_volume_t value = moved.values[channel];
        const bool down = pa_sw_volume_to_linear(value) >= 0.5;
        pa_volume_t other = pa_sw_volume_from_linear(pa_sw_volume_to_linear(value) + (down ? -2e-5 : 2e-5));
        if (other == value) {
            other = down ? value - 1 : value + 1;
        }
        moved.values[channel] = other;
    }
    return moved;
}

// Under the connection's lock: sends a query for server objects of one kind (`query` is given
// the callback and its data), waits for the answer, and returns each object it lists as
// describe() gives it, in the server's order.
template <class Info, class Query>
auto describeEach(const PulseConnection& connection, Query query) {
    using Described = decltype(PulseConnection::describe(std::declval<const Info&>()));
    struct Request {
        const PulseConnection* connection;
        std::vector<Described> objects;
    } request{&connection, {}};
    connection.wait(query(
        [](pa_context*, const Info* info, int last, void* user) {
            auto* answer = static_cast<Request*>(user);
            if (last == 0 && info != nullptr) {
                answer->objects.push_back(PulseConnection::describe(*info));
            }
            answer->connection->signal();
        },
        &request));
    return request.objects;
}

}  // namespace

std::unique_ptr<PulseConnection> PulseConnection::open(const char* clientName, std::string& error) {
    std::unique_ptr<PulseConnection> connection(new PulseConnection);
    connection->clientName_ = clientName;
    connection->loop_ = pa_threaded_mainloop_new();
    if (connection->loop_ == nullptr) {
        error = "no main loop";
        return nullptr;
    }
    if (!connection->connect(error)) {
        return nullptr;
    }
    if (pa_threaded_mainloop_start(connection->loop_) < 0) {
        error = pa_strerror(pa_context_errno(connection->context_));
        return nullptr;
    }
    const Lock lock(*connection);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(connection->context_);
        if (state == PA_CONTEXT_READY) {
            connection->readServerIdentity();
            return connection;
        }
        if (!PA_CONTEXT_IS_GOOD(state)) {
            error = pa_strerror(pa_context_errno(connection->context_));
            return nullptr;
        }
        pa_threaded_mainloop_wait(connection->loop_);
    }
}

bool PulseConnection::connect(std::string& error) {
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), clientName_.c_str());
    if (context_ == nullptr) {
        error = "no context";
        return false;
    }
    pa_context_set_state_callback(context_, contextStateChanged, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(context_));
        return false;
    }
    return true;
}

void PulseConnection::contextStateChanged(pa_context* context, void* user) {
    auto* connection = static_cast<PulseConnection*>(user);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        connection->lost_.store(true);
    }
    connection->signal();
}

std::string PulseConnection::lostReason() const {
    const Lock lock(*this);
    return pa_strerror(pa_context_errno(context_));
}

void PulseConnection::reconnect() {
    const Lock lock(*this);
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    // The clients' indexes were the old instance's.
    clients_.clear();
    std::string error;
    connect(error);  // a failure at once shows as a failed context, or none
}

PulseConnection::Reconnection PulseConnection::reconnection() {
    const Lock lock(*this);
    if (context_ == nullptr) {
        return Reconnection::Failed;
    }
    pa_context_state_t state = pa_context_get_state(context_);
    if (state == PA_CONTEXT_READY) {
        readServerIdentity();
        state = pa_context_get_state(context_);
    }
    if (state == PA_CONTEXT_READY) {
        // Under the lock, after the identity's read: a loss from here on is seen by lost().
        lost_.store(false);
        return Reconnection::Ready;
    }
    return PA_CONTEXT_IS_GOOD(state) ? Reconnection::Pending : Reconnection::Failed;
}

void PulseConnection::readServerIdentity() {
    ++instance_;
    wait(pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* user) {
            auto* connection = static_cast<PulseConnection*>(user);
            if (info != nullptr) {
                char cookie[16];
                std::snprintf(cookie, sizeof cookie, "%08x", info->cookie);
                const std::string name = info->server_name == nullptr ? "" : info->server_name;
                connection->server_ = name + " " + cookie;
                connection->cookie_ = cookie;
                connection->onPipeWire_ = name.find("PipeWire") != std::string::npos;
            }
            connection->signal();
        },
        this));
}

PulseConnection::~PulseConnection() {
    if (loop_ != nullptr) {
        pa_threaded_mainloop_stop(loop_);
    }
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_ != nullptr) {
        pa_threaded_mainloop_free(loop_);
    }
}

bool PulseConnection::wait(pa_operation* operation) const {
    if (operation == nullptr) {
        return false;
    }
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        pa_threaded_mainloop_wait(loop_);
    }
    pa_operation_unref(operation);
    return true;
}

PulseConnection::SinkInput PulseConnection::describe(const pa_sink_input_info& info) {
    SinkInput input;
    input.index = info.index;
    input.sink = info.sink;
    input.client = info.client;
    input.properties = ownerPropertiesOf(info.proplist);
    const StreamOwner owner = streamOwner(input.properties, nullptr);
    input.pid = owner.pid;
    input.binary = owner.binary;
    input.volume = info.volume;
    input.map = info.channel_map;
    input.hasVolume = info.has_volume != 0 && info.volume_writable != 0;
    input.corked = info.corked != 0;
    input.muted = info.mute != 0;
    input.restoreKey = restoreKeyOf(info.proplist);
    return input;
}

PulseConnection::Sink PulseConnection::describe(const pa_sink_info& info) {
    Sink sink;
    sink.index = info.index;
    sink.name = info.name == nullptr ? "" : info.name;
    sink.monitorSource = info.monitor_source_name == nullptr ? "" : info.monitor_source_name;
    sink.format = info.sample_spec;
    sink.map = info.channel_map;
    sink.fullVolume = info.mute == 0 && pa_cvolume_valid(&info.volume) != 0 &&
                      pa_cvolume_min(&info.volume) == PA_VOLUME_NORM && pa_cvolume_max(&info.volume) == PA_VOLUME_NORM;
    return sink;
}

std::string PulseConnection::serverIdentity() const {
    const Lock lock(*this);
    return server_;
}

std::optional<PulseConnection::SinkInputs> PulseConnection::sinkInputs() const {
    const Lock lock(*this);
    if (!serving()) {
        return std::nullopt;
    }
    std::vector<SinkInput> inputs = describeEach<pa_sink_input_info>(*this, [this](auto callback, void* user) {
        return pa_context_get_sink_input_info_list(context_, callback, user);
    });
    for (SinkInput& input : inputs) {
        if (!resolveOwner(input)) {
            wait(askClient(input.client, nullptr, nullptr));
            resolveOwner(input);
        }
    }
    if (!serving()) {
        return std::nullopt;
    }
    return SinkInputs{std::move(inputs), instance_, cookie_};
}

bool PulseConnection::resolveOwner(SinkInput& input) const {
    const StreamOwner own = streamOwner(input.properties, nullptr);
    if (input.client == PA_INVALID_INDEX || (own.pid != 0 && !own.binary.empty())) {
        return true;
    }
    const auto client = clients_.find(input.client);
    if (client == clients_.end()) {
        return false;
    }
    const StreamOwner owner = streamOwner(input.properties, &client->second);
    input.pid = owner.pid;
    input.binary = owner.binary;
    return true;
}

pa_operation* PulseConnection::askClient(std::uint32_t client, void (*done)(void* user), void* user) const {
    struct Request {
        const PulseConnection* connection;
        std::uint32_t client;
        void (*done)(void*);
        void* user;
    };
    auto* request = new Request{this, client, done, user};
    pa_operation* operation = pa_context_get_client_info(
        context_, client,
        [](pa_context*, const pa_client_info* info, int last, void* data) {
            auto* pending = static_cast<Request*>(data);
            if (last == 0 && info != nullptr) {
                pending->connection->clients_[pending->client] = ownerPropertiesOf(info->proplist);
                return;
            }
            // The end of the answer; a client that is already gone names no process.
            pending->connection->clients_.emplace(pending->client, OwnerProperties{});
            pending->connection->signal();
            if (pending->done != nullptr) {
                pending->done(pending->user);
            }
            delete pending;
        },
        request);
    if (operation == nullptr) {
        clients_.emplace(client, OwnerProperties{});
        delete request;
    }
    return operation;
}

bool PulseConnection::requestClient(std::uint32_t client, void (*done)(void* user), void* user) const {
    pa_operation* operation = askClient(client, done, user);
    if (operation == nullptr) {
        return false;
    }
    pa_operation_unref(operation);
    return true;
}

void PulseConnection::watchSinks(SinkEvent event, void* user) {
    sinkEvent_ = event;
    sinkUser_ = user;
    if (event == nullptr) {
        return;
    }
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* connection) {
            auto* self = static_cast<PulseConnection*>(connection);
            const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
            if (facility == PA_SUBSCRIPTION_EVENT_CLIENT &&
                (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
                self->clients_.erase(index);
            } else if ((facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT || facility == PA_SUBSCRIPTION_EVENT_SINK) &&
                       self->sinkEvent_ != nullptr) {
                self->sinkEvent_(type, index, self->sinkUser_);
            }
        },
        this);
    pa_operation* operation = pa_context_subscribe(
        context_,
        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SINK |
                                            PA_SUBSCRIPTION_MASK_CLIENT),
        nullptr, nullptr);
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

std::optional<PulseConnection::Sink> PulseConnection::defaultSink() const {
    const Lock lock(*this);
    // "@DEFAULT_SINK@" names whatever sink the server uses by default.
    const std::vector<Sink> sinks = describeEach<pa_sink_info>(*this, [this](auto callback, void* user) {
        return pa_context_get_sink_info_by_name(context_, "@DEFAULT_SINK@", callback, user);
    });
    return sinks.empty() ? std::nullopt : std::optional<Sink>(sinks.back());
}

bool PulseConnection::setSinkInputVolume(std::uint64_t instance, std::uint32_t index, const pa_cvolume& volume) const {
    struct Request {
        const PulseConnection* connection;
        bool done = false;
    } request{this};
    const Lock lock(*this);
    return instance == instance_ && serving() &&
           wait(pa_context_set_sink_input_volume(
               context_, index, &volume,
               [](pa_context*, int success, void* user) {
                   auto* answer = static_cast<Request*>(user);
                   answer->done = success != 0;
                   answer->connection->signal();
               },
               &request)) &&
           request.done;
}

int PulseConnection::lastError() const {
    const Lock lock(*this);
    return pa_context_errno(context_);
}

bool PulseConnection::rememberVolume(const std::string& key, const pa_channel_map& map, const pa_cvolume& volume,
                                     bool mute) const {
    struct Request {
        const PulseConnection* connection;
        const std::string& key;
        std::optional<std::string> device;
        int mute = 0;
        bool done = false;
    } request{this, key, std::nullopt};
    const Lock lock(*this);
    if (!serving()) {
        return false;
    }
    wait(pa_ext_stream_restore_read(
        context_,
        [](pa_context*, const pa_ext_stream_restore_info* info, int last, void* user) {
            auto* answer = static_cast<Request*>(user);
            if (last == 0 && info != nullptr && info->name != nullptr && answer->key == info->name) {
                answer->device = info->device == nullptr ? "" : info->device;
                answer->mute = info->mute;
            }
            answer->connection->signal();
        },
        &request));
    // No entry read back: PipeWire's pulse server lists none (its session manager keeps them),
    // but takes a written one; on PulseAudio the server would make one from the volume just set.
    pa_ext_stream_restore_info entry{};
    entry.name = key.c_str();
    entry.channel_map = map;
    entry.device = request.device && !request.device->empty() ? request.device->c_str() : nullptr;
    entry.mute = request.device ? request.mute : mute;
    // PipeWire's session manager hears only a write that changes what its pulse server was told
    // last, and may have stored the volume just set meanwhile: the entry is written a hair off
    // first, so that the true one always counts.
    for (const pa_cvolume& written : {offByAHair(volume), volume}) {
        entry.volume = written;
        request.done = false;
        if (!wait(pa_ext_stream_restore_write(
                context_, PA_UPDATE_REPLACE, &entry, 1, 0,
                [](pa_context*, int success, void* user) {
                    auto* answer = static_cast<Request*>(user);
                    answer->done = success != 0;
                    answer->connection->signal();
                },
                &request)) ||
            !request.done) {
            return false;
        }
    }
    if (onPipeWire_) {
        rememberThroughStandIn(key, map, volume);
    }
    return true;
}

void PulseConnection::rememberThroughStandIn(const std::string& key, const pa_channel_map& map,
                                             const pa_cvolume& volume) const {
    const auto [name, value] = keyProperty(key);
    if (name == nullptr) {
        return;
    }
    // The connection as it is now: a reconnection while the waits below let go of the lock
    // gives the program a new one, whose streams the stand-in's index does not name.
    pa_context* const context = context_;
    // A single level (an entry whose stream is gone) is given on both channels of a stereo
    // stand-in: the session manager hands its channels on to the application's next stream as
    // they are.
    pa_channel_map channels = map;
    pa_cvolume wanted = volume;
    if (volume.channels == 1) {
        pa_channel_map_init_stereo(&channels);
        pa_cvolume_set(&wanted, 2, volume.values[0]);
    }
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, 48000, wanted.channels};
    if (!pa_channel_map_valid(&channels) || channels.channels != wanted.channels ||
        !pa_sample_spec_valid(&sampleFormat)) {
        return;
    }
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, name, value.c_str());
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "volume memory");
    pa_stream* stream = pa_stream_new_with_proplist(context, "volume memory", &sampleFormat, &channels, properties);
    pa_proplist_free(properties);
    if (stream == nullptr) {
        return;
    }
    // A tick every 20 ms wakes the waits below, so that none outlasts its bound.
    constexpr pa_usec_t kTick = 20 * PA_USEC_PER_MSEC;
    struct Ticker {
        const PulseConnection* connection;
        pa_context* context;
        pa_time_event* event = nullptr;
    } ticker{this, context};
    ticker.event = pa_context_rttime_new(
        context, pa_rtclock_now() + kTick,
        [](pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* user) {
            auto* self = static_cast<Ticker*>(user);
            self->connection->signal();
            pa_context_rttime_restart(self->context, event, pa_rtclock_now() + kTick);
        },
        &ticker);
    pa_stream_set_state_callback(
        stream, [](pa_stream*, void* user) { static_cast<const PulseConnection*>(user)->signal(); },
        const_cast<PulseConnection*>(this));
    const pa_usec_t started = pa_rtclock_now();
    // Corked and never written to: it plays nothing.
    if (ticker.event != nullptr &&
        pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_START_CORKED, &wanted, nullptr) == 0) {
        while (pa_stream_get_state(stream) == PA_STREAM_CREATING && pa_rtclock_now() - started < kStandInLimit) {
            pa_threaded_mainloop_wait(loop_);
        }
        if (pa_stream_get_state(stream) == PA_STREAM_READY) {
            holdStandIn(context, pa_stream_get_index(stream), wanted, started);
        }
        pa_stream_disconnect(stream);
    }
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_unref(stream);
    if (ticker.event != nullptr) {
        pa_threaded_mainloop_get_api(loop_)->time_free(ticker.event);
    }
}

void PulseConnection::holdStandIn(pa_context* context, std::uint32_t index, const pa_cvolume& wanted,
                                  pa_usec_t started) const {
    // The session manager first gives the new stream the volume it remembers, then keeps what the
    // stream is set to: the stand-in is set back to the wanted volume whenever it reads otherwise,
    // until it has stayed there a while.
    constexpr pa_usec_t kSettled = 200 * PA_USEC_PER_MSEC;
    struct Request {
        const PulseConnection* connection;
        std::optional<pa_cvolume> volume;
    };
    pa_usec_t lastSet = started;
    while (context_ == context && pa_rtclock_now() - started < kStandInLimit && pa_rtclock_now() - lastSet < kSettled) {
        Request request{this, std::nullopt};
        if (!wait(pa_context_get_sink_input_info(
                context, index,
                [](pa_context*, const pa_sink_input_info* info, int last, void* user) {
                    auto* answer = static_cast<Request*>(user);
                    if (last == 0 && info != nullptr) {
                        answer->volume = info->volume;
                    }
                    answer->connection->signal();
                },
                &request)) ||
            !request.volume) {
            return;
        }
        if (!sameVolume(*request.volume, wanted)) {
            if (context_ != context ||
                !wait(pa_context_set_sink_input_volume(
                    context, index, &wanted,
                    [](pa_context*, int, void* user) { static_cast<Request*>(user)->connection->signal(); },
                    &request))) {
                return;
            }
            lastSet = pa_rtclock_now();
        }
        pa_threaded_mainloop_wait(loop_);  // the next tick
    }
}
