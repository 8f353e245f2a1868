#include "common/stream_owner.h"

namespace {

std::uint32_t pidOf(const std::string& text) {
    if (text.empty() || text.size() > 10) {
        return 0;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value <= 0xFFFFFFFFu ? static_cast<std::uint32_t>(value) : 0;
}

}  // namespace

StreamOwner streamOwner(const OwnerProperties& stream, const OwnerProperties* client) {
    StreamOwner owner;
    owner.pid = pidOf(stream.processId);
    if (owner.pid == 0 && client != nullptr) {
        owner.pid = pidOf(client->processId);
        if (owner.pid == 0) {
            owner.pid = pidOf(client->securityPid);
        }
    }
    owner.binary = stream.processBinary;
    if (owner.binary.empty() && client != nullptr) {
        owner.binary = client->processBinary;
    }
    return owner;
}
