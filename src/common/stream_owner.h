#pragma once

#include <cstdint>
#include <string>

// Which process a sound server's stream belongs to. A stream opened through libpulse names its
// process itself; one opened natively through PipeWire (pw-play, SDL, GStreamer's PipeWire sink)
// names nothing, and only the client that opened it says whose it is.

// The properties the rule reads, as the server lists them for a stream or for its client; a
// property the server does not list is empty.
struct OwnerProperties {
    std::string processId;      // application.process.id
    std::string processBinary;  // application.process.binary
    std::string securityPid;    // pipewire.sec.pid: the peer's pid as the PipeWire socket saw it
};

struct StreamOwner {
    std::uint32_t pid = 0;  // 0: no owner
    std::string binary;     // empty when neither names one
};

// The stream's own process id; else its client's; else the client's pipewire.sec.pid; else no
// owner. A property counts when it is a whole decimal number from 1 to 4294967295. The binary
// name: the stream's, else the client's. `client` is null when the stream has no client or its
// properties are unknown.
StreamOwner streamOwner(const OwnerProperties& stream, const OwnerProperties* client);
