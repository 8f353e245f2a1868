#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/stream_owner.h"

// The program's connection to the sound server (PulseAudio, or PipeWire's pulse server): a
// libpulse threaded main loop and a ready context on it. Callbacks run on the loop's thread.
// Every other thread holds a Lock while it uses the context, and the queries below wait for
// their answer under that lock. When the server goes away the connection can be made again, on
// the same loop, to whatever server answers then (reconnect()); a query finds no server until then.
class PulseConnection {
public:
    // Connects as the server's usual rules say (PULSE_SERVER, the user's runtime folder).
    // nullptr and the reason when the server cannot be reached.
    static std::unique_ptr<PulseConnection> open(const char* clientName, std::string& error);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

    class Lock {
    public:
        explicit Lock(const PulseConnection& connection) : loop_(connection.loop_) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    // Under the lock: waits until the operation has finished, then releases it. Its callback
    // must call signal(). False for a null operation (the request failed at once).
    bool wait(pa_operation* operation) const;
    void signal() const { pa_threaded_mainloop_signal(loop_, 0); }

    struct SinkInput {
        std::uint32_t index = 0;
        std::uint32_t sink = 0;
        std::uint32_t client = PA_INVALID_INDEX;
        OwnerProperties properties;  // the stream's own
        // The owning process and its binary name (streamOwner); 0 and empty when nothing names one.
        std::uint32_t pid = 0;
        std::string binary;
        pa_cvolume volume{};
        pa_channel_map map{};
        bool hasVolume = false;  // the stream has a volume the program may set
        bool corked = false;     // paused: not playing now
        bool muted = false;
        // The key under which the server's stream-restore module remembers the application's volume.
        std::string restoreKey;
    };
    struct Sink {
        std::uint32_t index = 0;
        std::string name;
        std::string monitorSource;
        pa_sample_spec format{};
        pa_channel_map map{};
        bool fullVolume = false;  // its volume is 100% on every channel, and it is not muted
    };

    // The sink inputs of one server instance: `instance` counts the connections made so far
    // (the first is 1), `cookie` is the instance's own number in hexadecimal (see serverIdentity).
    struct SinkInputs {
        std::vector<SinkInput> inputs;
        std::uint64_t instance = 0;
        std::string cookie;
    };

    // Queries; each takes the lock itself. Every sink input comes with its owner resolved;
    // nothing when no server is connected, or it went away during the query.
    std::optional<SinkInputs> sinkInputs() const;
    std::optional<Sink> defaultSink() const;
    // Sets a sink input of the given instance's (SinkInputs) volume; false when the server
    // refused it, it is gone, or the connection is another instance's by now.
    bool setSinkInputVolume(std::uint64_t instance, std::uint32_t index, const pa_cvolume& volume) const;
    // libpulse's number for the last failure (PA_ERR_...).
    int lastError() const;
    // The server instance, as it was at the last connection: its name and cookie (a number each
    // instance draws at its start; PulseAudio and PipeWire's pulse server both give one).
    std::string serverIdentity() const;

    // The server went away (the connection failed) since the last connection was made; any thread.
    bool lost() const { return lost_.load(); }
    // Why, in libpulse's words.
    std::string lostReason() const;
    // After a loss: lets go of the dead connection and starts connecting again (without
    // waiting); reconnection() tells how that goes. Nothing here waits for the server.
    void reconnect();
    enum class Reconnection {
        Pending,  // still connecting
        Ready,    // connected (to a new instance, as serverIdentity now says); lost() is false again
        Failed,   // no server answered: reconnect() again to retry
    };
    Reconnection reconnection();

    // The sound server's memory of an application's volume (module-stream-restore, or PipeWire's
    // session manager through the same extension): the volume a new stream of that application
    // starts at. Puts `volume` (in the map given) in place of what it remembers under `key`,
    // keeping the rest of the entry (without one: no device, the mute state given), written so
    // that it counts even when the same entry was written before; false when the server has no
    // such extension, or no server is connected.
    bool rememberVolume(const std::string& key, const pa_channel_map& map, const pa_cvolume& volume, bool mute) const;

    // The sink input's fields from the server's description of it (loop thread or lock held).
    // Its owner is the one it names itself; see resolveOwner.
    static SinkInput describe(const pa_sink_input_info& info);
    static Sink describe(const pa_sink_info& info);

    // The rest is for the loop thread or a holder of the lock.

    // Completes the owner from the properties of the stream's client, as streamOwner says; false
    // when they are needed and not known yet (requestClient asks for them).
    bool resolveOwner(SinkInput& input) const;
    // Asks for a client's properties, kept until the client goes away (while a watcher is set),
    // then calls done(user) on the loop thread. False when the request could not be sent: the
    // client is then taken as one that names no process, and done is not called.
    bool requestClient(std::uint32_t client, void (*done)(void* user), void* user) const;
    // Calls event(type, index, user) on the loop thread for every sink input and every sink that
    // appears, changes or leaves (the type names which, PA_SUBSCRIPTION_EVENT_SINK_INPUT or
    // PA_SUBSCRIPTION_EVENT_SINK), until it is set to null.
    using SinkEvent = void (*)(pa_subscription_event_type_t type, std::uint32_t index, void* user);
    void watchSinks(SinkEvent event, void* user);

private:
    PulseConnection() = default;
    // Under the lock (or before the loop runs): a new context, connecting; false with the reason
    // when it cannot even start.
    bool connect(std::string& error);
    static void contextStateChanged(pa_context* context, void* user);
    // Under the lock: connected, and the instance's identity read (a new connection counts from
    // then on).
    bool serving() const {
        return context_ != nullptr && !lost_.load() && pa_context_get_state(context_) == PA_CONTEXT_READY;
    }
    // Under the lock, once ready: keeps the server's identity.
    void readServerIdentity();
    // Under the lock, on PipeWire: tells the session manager an application's volume through a
    // silent stand-in stream of that application, set to the volume, as its own streams would.
    void rememberThroughStandIn(const std::string& key, const pa_channel_map& map, const pa_cvolume& volume) const;
    // `context`: the one the stand-in was made on; it gives up once the connection is another.
    void holdStandIn(pa_context* context, std::uint32_t index, const pa_cvolume& wanted, pa_usec_t started) const;
    // How long a stand-in may take at most.
    static constexpr pa_usec_t kStandInLimit = 1000 * PA_USEC_PER_MSEC;
    // The request behind requestClient; done may be null (a waiter under the lock is signalled).
    pa_operation* askClient(std::uint32_t client, void (*done)(void* user), void* user) const;

    std::string clientName_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::string server_;
    std::string cookie_;
    std::uint64_t instance_ = 0;
    std::atomic<bool> lost_{false};
    bool onPipeWire_ = false;  // the server is PipeWire's pulse server
    // Clients' properties by index, as far as they were asked for.
    mutable std::map<std::uint32_t, OwnerProperties> clients_;
    SinkEvent sinkEvent_ = nullptr;
    void* sinkUser_ = nullptr;
};
