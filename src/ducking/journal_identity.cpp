#include "ducking/journal_identity.h"

OwnerState ownerState(const ProcessIdentity& owner, const ProcessIdentity& self) {
    if (owner == self) {
        return OwnerState::Self;
    }
    return isProcessAlive(owner) ? OwnerState::Live : OwnerState::Ended;
}

OwnerState ownerState(const Journal& journal, const ProcessIdentity& self) {
    if (!journal.boot.empty() && journal.boot != currentBootIdentity()) {
        return OwnerState::Ended;
    }
    return ownerState(journal.owner, self);
}

bool appliesToServer(const Journal& journal, const std::string& server) {
    return journal.server.empty() || journal.server == server;
}
