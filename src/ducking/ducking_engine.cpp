#include "ducking/ducking_engine.h"

#include <windows.h>

#include "common/audio_endpoints.h"
#include "common/log.h"
#include "common/process_table.h"
#include "common/run_state.h"
#include "common/process_identity.h"
#include "ducking/ducking_journal.h"
#include "ducking/ducking_ledger.h"
#include "ducking/ducking_policy.h"
#include "ducking/journal_recovery.h"
#include "ducking/journal_store.h"
#include "ducking/volume_restoration.h"

namespace {

// The journals of the other programs that run now, read once per pass and only when a session
// is about to be lowered: a session one of them lowered keeps that program's original volume.
class OtherLiveJournals {
public:
    const std::vector<Journal>& get() {
        if (!read_) {
            read_ = true;
            const ProcessIdentity self = currentProcessIdentity();
            for (StoredJournal& stored : readJournals()) {
                if (!(stored.journal.owner == self) && isProcessAlive(stored.journal.owner)) {
                    journals_.push_back(std::move(stored.journal));
                }
            }
        }
        return journals_;
    }

private:
    bool read_ = false;
    std::vector<Journal> journals_;
};

// Carries out the ledger's plan for one active session that the mode selects.
void duckSession(IAudioSessionControl* control, IAudioSessionControl2* control2, std::uint32_t pid,
                 const ProcessTable& table, float ratio, bool reapply, OtherLiveJournals& others) {
    const std::wstring key = sessionIdentifier(control2);
    if (key.empty()) {
        return;
    }
    // Only a logged line needs the label: steady passes over saved sessions build none.
    const auto label = [&] { return processLabel(pid, table); };
    ComRef<ISimpleAudioVolume> volume;
    HRESULT hr = control->QueryInterface(__uuidof(ISimpleAudioVolume), volume.putVoid());
    if (FAILED(hr)) {
        if (g_savedVolumes.firstVolumeFailure(key)) {
            LogLine() << "[win-helper] Failed to access session volume for " << label() << " hr=" << hr;
        }
        return;
    }
    const DuckingLedger::Plan plan = g_savedVolumes.plan(key, reapply);
    switch (plan.action) {
        case DuckingLedger::Action::Lower: {
            float current = 0.0f;
            hr = volume->GetMasterVolume(&current);
            if (FAILED(hr)) {
                // Without the volume from before there is nothing to put back: not lowered.
                if (g_savedVolumes.firstReadFailure(key)) {
                    LogLine() << "[win-helper] Failed to read session volume for " << label() << " hr=" << hr;
                }
                return;
            }
            const float before = g_savedVolumes.originalVolume(key, current, others.get());
            const float after = duckedVolume(ratio, before);
            // Journal first: a kill right after the volume is set must find it listed.
            const auto previous = g_savedVolumes.recordLowered(key, before, after);
            persistLedgerJournal(JournalWrite::Durable);
            const HRESULT set = volume->SetMasterVolume(after, nullptr);
            if (FAILED(set)) {
                g_savedVolumes.revert(key, previous);
                LogLine() << "[win-helper] Failed to duck session " << label() << " hr=" << set;
                return;
            }
            LogLine() << "[win-helper] Ducking session " << label() << ": " << before << " -> " << after;
            return;
        }
        case DuckingLedger::Action::Reapply: {
            const float after = duckedVolume(ratio, plan.before);
            // Journal first, listing both volumes: a kill on either side of the set finds the
            // session at one of them. An ordinary write: a new ratio waits for no disk flush.
            const auto previous = g_savedVolumes.recordReapplied(key, after);
            persistLedgerJournal();
            const HRESULT set = volume->SetMasterVolume(after, nullptr);
            if (FAILED(set)) {
                g_savedVolumes.revert(key, previous);
                LogLine() << "[win-helper] Failed to update ducked session " << label() << " hr=" << set;
                return;
            }
            LogLine() << "[win-helper] Updating ducking session " << label() << ": " << plan.before << " -> " << after;
            return;
        }
        case DuckingLedger::Action::Leave: return;
    }
}

void runEnumerationPass(std::uint32_t targetPid, float ratio, bool reapply) {
    const ProcessTable table = snapshotProcesses();
    const std::uint32_t ownPid = GetCurrentProcessId();
    const bool includeMode = g_includeMode.load();
    DefaultDeviceSessions sessions;
    if (!sessions.open().ok()) {
        return;
    }
    OtherLiveJournals others;
    sessions.forEachSession([&](IAudioSessionControl* control) {
        AudioSessionState state = AudioSessionStateInactive;
        if (FAILED(control->GetState(&state)) || state != AudioSessionStateActive) {
            return;
        }
        ComRef<IAudioSessionControl2> control2;
        if (FAILED(control->QueryInterface(__uuidof(IAudioSessionControl2), control2.putVoid()))) {
            return;
        }
        DWORD pid = 0;
        control2->GetProcessId(&pid);
        const bool related = isRelatedProcess(pid, targetPid, table, ownPid);
        if (isDuckingCandidate(pid, related, includeMode) && !isExcludedByName(pid, table)) {
            duckSession(control, control2.get(), pid, table, ratio, reapply, others);
        }
    });
}

// Waits up to one pass interval; a stop, or `done`, ends the wait at once.
template <class Condition>
void waitUntil(Condition done) {
    g_runSignal.waitFor(kPassInterval, [&] { return !g_captureRunning.load() || done(); });
}

}  // namespace

void duckingThreadMain(std::uint32_t targetPid) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return;
    }
    recoverEndedRunsJournals();
    float lastRatio = -1.0f;
    while (g_captureRunning.load()) {
        const float ratio = g_duckRatio.load();
        const PassPlan plan = planPass(ratio, lastRatio, g_savedVolumes.nothingLowered());
        lastRatio = ratio;
        switch (plan.kind) {
            case PassKind::RestoreAndClear:
                // What a restore cannot put back stays pending, not lowered.
                restoreSessionVolumes();
                break;
            case PassKind::Idle: waitUntil([] { return g_duckRatio.load() < kDuckOffThreshold; }); break;
            case PassKind::Enumerate:
                runEnumerationPass(targetPid, ratio, plan.reapply);
                g_savedVolumes.settle();
                persistLedgerJournal();
                // A not-a-number ratio differs from itself: the wait ends at once, as it did.
                waitUntil([ratio] { return g_duckRatio.load() != ratio; });
                break;
        }
    }
    CoUninitialize();
}
