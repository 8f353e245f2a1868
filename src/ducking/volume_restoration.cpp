#include "ducking/volume_restoration.h"

#include <optional>

#include "common/audio_endpoints.h"
#include "common/log.h"
#include "ducking/ducking_journal.h"
#include "ducking/ducking_ledger.h"
#include "ducking/journal_store.h"

namespace {

// Puts one session's volume back, or (pending) only if it is still at the volume we set.
void restoreSession(IAudioSessionControl* control, const std::wstring& identifier, const DuckingLedger::Entry& entry,
                    DuckingLedger::RestoreOutcome& outcome) {
    ComRef<ISimpleAudioVolume> volume;
    if (FAILED(control->QueryInterface(__uuidof(ISimpleAudioVolume), volume.putVoid()))) {
        return;
    }
    if (entry.pending) {
        float read = 0.0f;
        const std::optional<float> current =
            SUCCEEDED(volume->GetMasterVolume(&read)) ? std::optional<float>(read) : std::nullopt;
        switch (recoveryAction(current, entry.set, entry.previousSet)) {
            case RecoveryAction::Restore: break;
            case RecoveryAction::Drop: outcome.dropped.insert(identifier); return;
            case RecoveryAction::Keep: return;
        }
    }
    const HRESULT hr = volume->SetMasterVolume(entry.before, nullptr);
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Failed to restore session volume hr=" << hr;
        outcome.failed.insert(identifier);
        return;
    }
    LogLine() << "[win-helper] Restored session volume to: " << entry.before;
    outcome.restored.insert(identifier);
}

}  // namespace

void restoreSessionVolumes() {
    LogLine() << "[win-helper] Restoring audio session volumes...";
    DefaultDeviceSessions sessions;
    if (sessions.open().ok()) {
        const auto& entries = g_savedVolumes.entries();
        DuckingLedger::RestoreOutcome outcome;
        sessions.forEachSession([&](IAudioSessionControl* control) {
            ComRef<IAudioSessionControl2> control2;
            if (FAILED(control->QueryInterface(__uuidof(IAudioSessionControl2), control2.putVoid()))) {
                return;
            }
            const std::wstring identifier = sessionIdentifier(control2.get());
            const auto entry = entries.find(identifier);
            if (!identifier.empty() && entry != entries.end()) {
                restoreSession(control, identifier, entry->second, outcome);
            }
        });
        g_savedVolumes.finishRestore(outcome);
    } else {
        g_savedVolumes.finishRestore({});
    }
    persistLedgerJournal();
}
