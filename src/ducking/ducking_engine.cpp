#include "ducking/ducking_engine.h"

#include <windows.h>

#include "common/audio_endpoints.h"
#include "common/log.h"
#include "common/process_table.h"
#include "common/run_state.h"
#include "ducking/ducking_ledger.h"
#include "ducking/ducking_policy.h"
#include "ducking/volume_restoration.h"

namespace {

// Carries out the ledger's plan for one active session that the mode selects.
void duckSession(IAudioSessionControl* control, IAudioSessionControl2* control2, std::uint32_t pid,
                 const ProcessTable& table, float ratio, bool reapply) {
    const std::wstring key = sessionIdentifier(control2);
    if (key.empty()) {
        return;
    }
    // Only a logged line needs the label: steady passes over saved sessions build none.
    const auto label = [&] { return processLabel(pid, table); };
    ComRef<ISimpleAudioVolume> volume;
    const HRESULT hr = control->QueryInterface(__uuidof(ISimpleAudioVolume), volume.putVoid());
    if (FAILED(hr)) {
        if (g_savedVolumes.firstVolumeFailure(key)) {
            LogLine() << "[win-helper] Failed to access session volume for " << label() << " hr=" << hr;
        }
        return;
    }
    const DuckingLedger::Plan plan = g_savedVolumes.plan(key, reapply);
    switch (plan.action) {
        case DuckingLedger::Action::Lower: {
            float before = 1.0f;
            volume->GetMasterVolume(&before);
            const float after = duckedVolume(ratio, before);
            const HRESULT set = volume->SetMasterVolume(after, nullptr);
            if (FAILED(set)) {
                LogLine() << "[win-helper] Failed to duck session " << label() << " hr=" << set;
                return;
            }
            g_savedVolumes.saveLowered(key, before);
            LogLine() << "[win-helper] Ducking session " << label() << ": " << before << " -> " << after;
            return;
        }
        case DuckingLedger::Action::Reapply: {
            const float after = duckedVolume(ratio, *plan.savedVolume);
            const HRESULT set = volume->SetMasterVolume(after, nullptr);
            if (FAILED(set)) {
                LogLine() << "[win-helper] Failed to update ducked session " << label() << " hr=" << set;
                return;
            }
            LogLine() << "[win-helper] Updating ducking session " << label() << ": " << *plan.savedVolume << " -> "
                      << after;
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
            duckSession(control, control2.get(), pid, table, ratio, reapply);
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
    float lastRatio = -1.0f;
    while (g_captureRunning.load()) {
        const float ratio = g_duckRatio.load();
        const PassPlan plan = planPass(ratio, lastRatio, g_savedVolumes.empty());
        lastRatio = ratio;
        switch (plan.kind) {
            case PassKind::RestoreAndClear:
                restoreSessionVolumes();
                g_savedVolumes.clearSaved();
                break;
            case PassKind::Idle: waitUntil([] { return g_duckRatio.load() < kDuckOffThreshold; }); break;
            case PassKind::Enumerate:
                runEnumerationPass(targetPid, ratio, plan.reapply);
                // A not-a-number ratio differs from itself: the wait ends at once, as it did.
                waitUntil([ratio] { return g_duckRatio.load() != ratio; });
                break;
        }
    }
    CoUninitialize();
}
