#include "ducking/journal_recovery.h"

#include <map>
#include <optional>
#include <set>

#include "common/audio_endpoints.h"
#include "common/log.h"
#include "ducking/ducking_journal.h"
#include "ducking/journal_store.h"

namespace {

// Applies the recovery rule to one journal and rewrites it with what is left.
void recover(StoredJournal& stored, bool logRestored) {
    std::map<std::wstring, const JournalEntry*> byIdentifier;
    for (const JournalEntry& entry : stored.journal.entries) {
        byIdentifier.emplace(entry.identifier, &entry);
    }
    std::set<std::wstring> finished;
    std::set<std::wstring> kept;
    DefaultDeviceSessions sessions;
    if (sessions.open().ok()) {
        sessions.forEachSession([&](IAudioSessionControl* control) {
            ComRef<IAudioSessionControl2> control2;
            if (FAILED(control->QueryInterface(__uuidof(IAudioSessionControl2), control2.putVoid()))) {
                return;
            }
            const auto found = byIdentifier.find(sessionIdentifier(control2.get()));
            if (found == byIdentifier.end()) {
                return;
            }
            const JournalEntry& entry = *found->second;
            ComRef<ISimpleAudioVolume> volume;
            std::optional<float> current;
            if (SUCCEEDED(control->QueryInterface(__uuidof(ISimpleAudioVolume), volume.putVoid()))) {
                float read = 0.0f;
                if (SUCCEEDED(volume->GetMasterVolume(&read))) {
                    current = read;
                }
            }
            switch (recoveryAction(current, entry.set, entry.previousSet)) {
                case RecoveryAction::Restore:
                    if (FAILED(volume->SetMasterVolume(entry.before, nullptr))) {
                        kept.insert(entry.identifier);
                        return;
                    }
                    if (logRestored) {
                        LogLine() << "[win-helper] Restored session volume left lowered by an earlier run to: "
                                  << entry.before;
                    }
                    finished.insert(entry.identifier);
                    return;
                case RecoveryAction::Drop: finished.insert(entry.identifier); return;
                case RecoveryAction::Keep: kept.insert(entry.identifier); return;
            }
        });
    }
    std::vector<JournalEntry> left;
    for (const JournalEntry& entry : stored.journal.entries) {
        if (finished.count(entry.identifier) == 0 || kept.count(entry.identifier) > 0) {
            left.push_back(entry);
        }
    }
    stored.journal.entries = std::move(left);
    rewriteJournal(stored);
}

}  // namespace

void recoverEndedRunsJournals() {
    forEachEndedRunJournal([](StoredJournal& stored) { recover(stored, true); });
}

void recoverJournalOf(const ProcessIdentity& owner) {
    forJournalOf(owner, [](StoredJournal& stored) { recover(stored, false); });
}
