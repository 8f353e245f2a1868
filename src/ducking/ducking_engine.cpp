#include "ducking/ducking_engine.h"

#include <windows.h>

#include "app/log.h"
#include "app/run_state.h"
#include "ducking/default_device_sessions.h"
#include "ducking/ducking_policy.h"
#include "ducking/process_table.h"
#include "ducking/volume_restoration.h"
#include "listing/text.h"

namespace {

// Lowers, re-applies or leaves one active session that the mode selects.
void duckSession(IAudioSessionControl* control, IAudioSessionControl2* control2, std::uint32_t pid,
                 const ProcessTable& table, float ratio, bool reapply) {
    const auto entry = table.find(pid);
    if (entry != table.end() && isExcludedProcessName(entry->second.exeName)) {
        return;
    }
    const std::wstring key = sessionIdentifier(control2);
    if (key.empty()) {
        return;
    }
    // Only a logged line needs the label: steady passes over saved sessions build none.
    const auto label = [&] { return processLabel(pid, table); };
    ComRef<ISimpleAudioVolume> volume;
    const HRESULT hr = control->QueryInterface(__uuidof(ISimpleAudioVolume), volume.putVoid());
    if (FAILED(hr)) {
        if (g_reportedVolumeFailures.emplace(key, true).second) {
            LogLine() << "[win-helper] Failed to access session volume for " << label() << " hr=" << hr;
        }
        return;
    }
    const auto saved = g_savedVolumes.find(key);
    if (saved == g_savedVolumes.end()) {
        float before = 1.0f;
        volume->GetMasterVolume(&before);
        const float after = duckedVolume(ratio, before);
        const HRESULT set = volume->SetMasterVolume(after, nullptr);
        if (FAILED(set)) {
            LogLine() << "[win-helper] Failed to duck session " << label() << " hr=" << set;
            return;
        }
        g_savedVolumes.emplace(key, before);
        LogLine() << "[win-helper] Ducking session " << label() << ": " << before << " -> " << after;
    } else if (reapply) {
        const float after = duckedVolume(ratio, saved->second);
        const HRESULT set = volume->SetMasterVolume(after, nullptr);
        if (FAILED(set)) {
            LogLine() << "[win-helper] Failed to update ducked session " << label() << " hr=" << set;
            return;
        }
        LogLine() << "[win-helper] Updating ducking session " << label() << ": " << saved->second << " -> " << after;
    }
}

void runEnumerationPass(std::uint32_t targetPid, float ratio, bool reapply) {
    const ProcessTable table = snapshotProcesses();
    const std::uint32_t ownPid = GetCurrentProcessId();
    const bool includeMode = g_includeMode.load();
    DefaultDeviceSessions sessions;
    if (!sessions.open()) {
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
        if (isDuckingCandidate(pid, related, includeMode)) {
            duckSession(control, control2.get(), pid, table, ratio, reapply);
        }
    });
}

// Sleeps in 100 ms steps, up to ten, while the run goes on and `keepWaiting` holds.
template <class Condition>
void waitWhile(Condition keepWaiting) {
    for (int step = 0; step < kWaitSteps; ++step) {
        if (!g_captureRunning.load() || !keepWaiting()) {
            return;
        }
        Sleep(kWaitStepMs);
    }
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
                g_savedVolumes.clear();
                break;
            case PassKind::Idle: waitWhile([] { return g_duckRatio.load() >= kDuckOffThreshold; }); break;
            case PassKind::Enumerate:
                runEnumerationPass(targetPid, ratio, plan.reapply);
                waitWhile([ratio] { return g_duckRatio.load() == ratio; });
                break;
        }
    }
    CoUninitialize();
}
