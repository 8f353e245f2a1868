#include "ducking/session_volumes_windows.h"

#include "common/audio_meter_windows.h"

namespace {

// A peak above this (-60 dBFS) is sound; the meter of a session that plays silence, or all but,
// stays below it.
constexpr float kAudiblePeak = 0.001f;

// Whether the session sounds now, by its peak meter; nothing when the meter cannot be had.
std::optional<bool> soundsNow(IAudioSessionControl* control) {
    ComRef<IAudioMeterInformation> meter;
    if (FAILED(control->QueryInterface(__uuidof(IAudioMeterInformation), meter.putVoid()))) {
        return std::nullopt;
    }
    float peak = 0.0f;
    if (FAILED(meter->GetPeakValue(&peak))) {
        return std::nullopt;
    }
    return peak > kAudiblePeak;
}

}  // namespace

bool WindowsSessionVolumes::findSessions(std::vector<AudioSession>& sessions) {
    if (!enumerator_ && FAILED(createDeviceEnumerator(enumerator_))) {
        return false;
    }
    device_ = std::make_unique<DefaultDeviceSessions>();
    if (!device_->open(enumerator_.get()).ok()) {
        enumerator_.reset();  // the next walk tries a new one (the audio service may have restarted)
        return false;
    }
    device_->forEachSession([&](IAudioSessionControl* control) {
        ComRef<IAudioSessionControl2> control2;
        if (FAILED(control->QueryInterface(__uuidof(IAudioSessionControl2), control2.putVoid()))) {
            return;
        }
        AudioSessionState state = AudioSessionStateInactive;
        AudioSession session;
        session.active = SUCCEEDED(control->GetState(&state)) && state == AudioSessionStateActive;
        DWORD pid = 0;
        control2->GetProcessId(&pid);
        session.pid = pid;
        session.identifier = sessionIdentifier(control2.get());
        if (readsMeters_) {
            session.audible = soundsNow(control);
        }
        found_.push_back({ComRef<IAudioSessionControl>::share(control), pid, {}});
        sessions.push_back(std::move(session));
    });
    return true;
}

std::string WindowsSessionVolumes::label(std::size_t session, const ProcessTable& table) const {
    return processLabel(found_[session].pid, table);
}

bool WindowsSessionVolumes::openVolume(std::size_t session, PlatformError& error) {
    Found& entry = found_[session];
    if (entry.volume) {
        return true;
    }
    const HRESULT hr = entry.control->QueryInterface(__uuidof(ISimpleAudioVolume), entry.volume.putVoid());
    error = hr;
    return SUCCEEDED(hr);
}

std::optional<float> WindowsSessionVolumes::readLevel(std::size_t session, PlatformError& error) {
    float level = 0.0f;
    const HRESULT hr = found_[session].volume->GetMasterVolume(&level);
    error = hr;
    return SUCCEEDED(hr) ? std::optional<float>(level) : std::nullopt;
}

bool WindowsSessionVolumes::setLevel(std::size_t session, float level, PlatformError& error) {
    const HRESULT hr = found_[session].volume->SetMasterVolume(level, nullptr);
    error = hr;
    return SUCCEEDED(hr);
}

void WindowsSessionVolumes::endWalk() {
    found_.clear();
    device_.reset();
    if (passesEnded_) {
        enumerator_.reset();
    }
}

void WindowsSessionVolumes::endPasses() {
    passesEnded_ = true;
    endWalk();
}
