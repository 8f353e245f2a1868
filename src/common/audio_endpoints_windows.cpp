#include "common/audio_endpoints_windows.h"

#include "common/handles_windows.h"

HRESULT createDeviceEnumerator(ComRef<IMMDeviceEnumerator>& enumerator) {
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                            enumerator.putVoid());
}

StepResult DefaultRenderEndpoint::open(IMMDeviceEnumerator* existing) {
    HRESULT hr = S_OK;
    if (existing != nullptr) {
        enumerator = ComRef<IMMDeviceEnumerator>::share(existing);
    } else if (FAILED(hr = createDeviceEnumerator(enumerator))) {
        return {EndpointStep::CreateEnumerator, hr};
    }
    hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put());
    if (FAILED(hr)) {
        return {EndpointStep::DefaultEndpoint, hr};
    }
    return {};
}

StepResult DeviceSessions::open(IMMDevice* device) {
    HRESULT hr = device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL, nullptr, manager_.putVoid());
    if (FAILED(hr)) {
        return {EndpointStep::ActivateSessionManager, hr};
    }
    hr = manager_->GetSessionEnumerator(sessions_.put());
    if (FAILED(hr)) {
        return {EndpointStep::SessionEnumerator, hr};
    }
    return {};
}

int DeviceSessions::count() const {
    int sessionCount = 0;
    sessions_->GetCount(&sessionCount);
    return sessionCount;
}

HRESULT DeviceSessions::session(int index, ComRef<IAudioSessionControl>& control) const {
    const HRESULT hr = sessions_->GetSession(index, control.put());
    if (FAILED(hr)) {
        control.reset();
    }
    return hr;
}

StepResult DefaultDeviceSessions::open(IMMDeviceEnumerator* enumerator) {
    const StepResult endpoint = endpoint_.open(enumerator);
    if (!endpoint.ok()) {
        return endpoint;
    }
    return sessions_.open(endpoint_.device.get());
}

std::wstring sessionIdentifier(IAudioSessionControl2* control) {
    wchar_t* raw = nullptr;
    const HRESULT hr = control->GetSessionIdentifier(&raw);
    std::wstring identifier = takeTaskMemString(raw);
    return SUCCEEDED(hr) ? identifier : std::wstring();
}
