#include "ducking/journal_identity.h"

OwnerState ownerState(const ProcessIdentity& owner, const ProcessIdentity& self) {
    if (owner == self) {
        return OwnerState::Self;
    }
    return isProcessAlive(owner) ? OwnerState::Live : OwnerState::Ended;
}

bool appliesToServer(const Journal& journal, const std::string& server) {
    return journal.server.empty() || journal.server == server;
}
