#include "ducking/volume_restoration.h"

#include "common/audio_endpoints.h"
#include "common/log.h"
#include "ducking/ducking_ledger.h"

void restoreSessionVolumes() {
    LogLine() << "[win-helper] Restoring audio session volumes...";
    DefaultDeviceSessions sessions;
    if (!sessions.open().ok()) {
        return;
    }
    const auto& saved = g_savedVolumes.savedVolumes();
    sessions.forEachSession([&saved](IAudioSessionControl* control) {
        ComRef<IAudioSessionControl2> control2;
        if (FAILED(control->QueryInterface(__uuidof(IAudioSessionControl2), control2.putVoid()))) {
            return;
        }
        const std::wstring identifier = sessionIdentifier(control2.get());
        if (identifier.empty()) {
            return;
        }
        const auto entry = saved.find(identifier);
        if (entry == saved.end()) {
            return;
        }
        ComRef<ISimpleAudioVolume> volume;
        if (FAILED(control->QueryInterface(__uuidof(ISimpleAudioVolume), volume.putVoid()))) {
            return;
        }
        volume->SetMasterVolume(entry->second, nullptr);
        LogLine() << "[win-helper] Restored session volume to: " << entry->second;
    });
}
