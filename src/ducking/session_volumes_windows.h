#pragma once

#include <windows.h>
#include <audiopolicy.h>

#include <memory>
#include <vector>

#include "common/audio_endpoints_windows.h"
#include "common/com_ref_windows.h"
#include "ducking/session_volumes.h"

// The audio sessions of the default playback device (the console role) through the audio
// session API: each session's instance identifier, its process id and whether it is active; its
// ISimpleAudioVolume's master volume. Levels read back exactly. When asked, each session's peak
// meter too (whether it sounds). The calling thread must be able to make COM calls in the
// multithreaded apartment.
class WindowsSessionVolumes final : public SessionVolumes {
public:
    // `readsMeters`: each walk reads every session's peak meter (for the status lines).
    explicit WindowsSessionVolumes(bool readsMeters = false) : readsMeters_(readsMeters) {}
    std::string label(std::size_t session, const ProcessTable& table) const override;
    bool openVolume(std::size_t session, PlatformError& error) override;
    std::optional<float> readLevel(std::size_t session, PlatformError& error) override;
    bool setLevel(std::size_t session, float level, PlatformError& error) override;
    LevelMatch levelMatch() const override { return {}; }
    // The passes' walks share one device enumerator; this releases it, on the thread that
    // walked, before that thread leaves its apartment. Later walks (the restore at the end, from
    // whichever thread stops the run) each make and release their own.
    void endPasses();

private:
    bool findSessions(std::vector<AudioSession>& sessions) override;
    void endWalk() override;

    struct Found {
        ComRef<IAudioSessionControl> control;
        std::uint32_t pid = 0;
        ComRef<ISimpleAudioVolume> volume;
    };
    const bool readsMeters_;
    // Kept from walk to walk; each walk finds the default device and its sessions afresh.
    ComRef<IMMDeviceEnumerator> enumerator_;
    bool passesEnded_ = false;
    // Released in reverse order: the sessions, then the device's enumerator.
    std::unique_ptr<DefaultDeviceSessions> device_;
    std::vector<Found> found_;
};
