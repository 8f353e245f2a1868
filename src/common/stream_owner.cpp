#include "common/stream_owner.h"

#include <cstdint>

#include "common/text.h"

namespace {

// At most 10 characters, the most that a 32-bit id is written with; 0 for none.
std::uint32_t pidOf(const std::string& text) {
    return text.size() > 10 ? 0 : static_cast<std::uint32_t>(parseWholeDecimal(text, UINT32_MAX).value_or(0));
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
