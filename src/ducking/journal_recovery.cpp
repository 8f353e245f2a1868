#include "ducking/journal_recovery.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "common/log.h"
#include "common/protocol_text.h"
#include "ducking/journal_identity.h"
#include "ducking/journal_store.h"

std::vector<JournalEntry>::const_iterator listedEntry(const std::vector<JournalEntry>& entries,
                                                      const AudioSession& session) {
    const auto byIdentifier = std::find_if(entries.begin(), entries.end(), [&](const JournalEntry& entry) {
        return entry.identifier == session.identifier;
    });
    if (byIdentifier != entries.end() || session.key.empty()) {
        return byIdentifier;
    }
    return std::find_if(entries.begin(), entries.end(),
                        [&](const JournalEntry& entry) { return entry.key == session.key; });
}

Recovered recoverSession(SessionVolumes& sessions, std::size_t session, const AudioSession& found,
                         std::optional<float> current, const JournalEntry& entry, bool log) {
    switch (recoveryAction(current, entry.set, entry.previousSet, sessions.levelMatch())) {
        case RecoveryAction::Restore: {
            PlatformError error = 0;
            if (!sessions.setLevel(session, entry.before, error)) {
                return Recovered::Kept;
            }
            sessions.remember(found.identifier, found.key, entry.before);
            if (log) {
                LogLine() << kRecoveredPrefix << entry.before;
            }
            return Recovered::Back;
        }
        case RecoveryAction::Drop: return Recovered::Dropped;
        case RecoveryAction::Keep: return Recovered::Kept;
    }
    return Recovered::Kept;
}

namespace {

// Applies the recovery rule to one journal's sessions and rewrites it with what is left. An
// identifier is valid in its own server instance only: an entry of another is never applied to
// a session. An entry whose session is gone for good (another instance's, or one a walk no
// longer finds where sessions never come back) goes, once its application's memory is set back.
void recover(SessionVolumes& sessions, StoredJournal& stored, bool logRestored) {
    const bool sameServer = appliesToServer(stored.journal, sessions.server());
    const std::vector<JournalEntry>& entries = stored.journal.entries;
    // A journal's entry is done once put back or dropped, unless another session of the same
    // identifier had to keep it.
    std::set<std::wstring> finished;
    std::set<std::wstring> kept;
    bool walked = false;
    if (sameServer) {
        const SessionVolumes::Walk walk = sessions.walk();
        walked = walk.reached();
        const std::vector<AudioSession>& found = walk.sessions();
        for (std::size_t session = 0; session < found.size(); ++session) {
            const auto entry = listedEntry(entries, found[session]);
            if (entry == entries.end()) {
                continue;
            }
            PlatformError error = 0;
            std::optional<float> current;
            if (sessions.openVolume(session, error)) {
                current = sessions.readLevel(session, error);
            }
            (recoverSession(sessions, session, found[session], current, *entry, logRestored) == Recovered::Kept
                 ? kept
                 : finished)
                .insert(entry->identifier);
        }
    }
    const bool unseenGone = !sameServer || (walked && !sessions.unseenMayReturn());
    std::vector<JournalEntry> left;
    std::set<std::string> remembered;  // once per application, however many of its sessions went
    for (const JournalEntry& entry : entries) {
        const bool done = finished.count(entry.identifier) > 0;
        const bool keep = kept.count(entry.identifier) > 0;
        if (!done && !keep && unseenGone) {
            if (!entry.key.empty() && remembered.insert(entry.key).second) {
                sessions.remember({}, entry.key, entry.before);  // gone for good: by its key alone
            }
            continue;
        }
        if (!done || keep) {
            left.push_back(entry);
        }
    }
    stored.journal.entries = std::move(left);
    rewriteJournal(stored);
}

}  // namespace

void recoverEndedRunsJournals(SessionVolumes& sessions, const ProcessIdentity& self) {
    forEachEndedRunJournal(self, [&](StoredJournal& stored) { recover(sessions, stored, true); });
}

void recoverJournalOf(SessionVolumes& sessions, const ProcessIdentity& owner) {
    forJournalOf(owner, [&](StoredJournal& stored) { recover(sessions, stored, false); });
}
