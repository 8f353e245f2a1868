#include "ducking/volume_restoration.h"

#include "app/log.h"
#include "ducking/default_device_sessions.h"
#include "ducking/ducking_policy.h"

void restoreSessionVolumes() {
    LogLine() << "[win-helper] Restoring audio session volumes...";
    DefaultDeviceSessions sessions;
    if (!sessions.open()) {
        return;
    }
    sessions.forEachSession([](IAudioSessionControl* control) {
        ComRef<IAudioSessionControl2> control2;
        if (FAILED(control->QueryInterface(__uuidof(IAudioSessionControl2), control2.putVoid()))) {
            return;
        }
        const std::wstring identifier = sessionIdentifier(control2.get());
        if (identifier.empty()) {
            return;
        }
        const auto saved = g_savedVolumes.find(identifier);
        if (saved == g_savedVolumes.end()) {
            return;
        }
        ComRef<ISimpleAudioVolume> volume;
        if (FAILED(control->QueryInterface(__uuidof(ISimpleAudioVolume), volume.putVoid()))) {
            return;
        }
        volume->SetMasterVolume(saved->second, nullptr);
        LogLine() << "[win-helper] Restored session volume to: " << saved->second;
    });
}
