#include "ducking/default_device_sessions.h"

#include "app/win_resources.h"

bool DefaultDeviceSessions::open() {
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                enumerator_.putVoid()))) {
        return false;
    }
    if (FAILED(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device_.put()))) {
        return false;
    }
    if (FAILED(device_->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL, nullptr, manager_.putVoid()))) {
        return false;
    }
    return SUCCEEDED(manager_->GetSessionEnumerator(sessions_.put()));
}

int DefaultDeviceSessions::sessionCount() const {
    int sessionCount = 0;
    sessions_->GetCount(&sessionCount);
    return sessionCount;
}

ComRef<IAudioSessionControl> DefaultDeviceSessions::session(int index) const {
    ComRef<IAudioSessionControl> control;
    if (FAILED(sessions_->GetSession(index, control.put()))) {
        control.reset();
    }
    return control;
}

std::wstring sessionIdentifier(IAudioSessionControl2* control) {
    LPWSTR raw = nullptr;
    if (FAILED(control->GetSessionIdentifier(&raw)) || raw == nullptr) {
        return {};
    }
    const UniqueTaskMem<wchar_t> owner(raw);
    return raw;
}
