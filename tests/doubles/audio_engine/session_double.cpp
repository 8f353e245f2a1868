// Audio sessions of the double's playback devices: session manager, enumerator and the
// session controls with their volumes.

#include "session_double.h"

#include <audiopolicy.h>

#include <cstring>

#include "com_object.h"
#include "common/audio_meter_windows.h"
#include "script.h"
#include "session_world.h"

namespace {

LPWSTR taskString(const std::wstring& text) {
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

// One session: IAudioSessionControl2 (or only IAudioSessionControl), ISimpleAudioVolume and
// IAudioMeterInformation, as the script allows.
class SessionControlDouble final : public IAudioSessionControl2,
                                   public ISimpleAudioVolume,
                                   public IAudioMeterInformation {
public:
    explicit SessionControlDouble(std::size_t index) : index_(index), state_(SessionWorld::instance().session(index)) {}
    virtual ~SessionControlDouble() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IAudioSessionControl)) {
            *object = static_cast<IAudioSessionControl*>(static_cast<IAudioSessionControl2*>(this));
        } else if (riid == __uuidof(IAudioSessionControl2) && !state_.noControl2) {
            *object = static_cast<IAudioSessionControl2*>(this);
        } else if (riid == __uuidof(ISimpleAudioVolume) && !state_.noVolume) {
            *object = static_cast<ISimpleAudioVolume*>(this);
        } else if (riid == __uuidof(IAudioMeterInformation)) {
            record("meter " + narrow(state_.id.c_str()));
            if (state_.noMeter) {
                return E_NOINTERFACE;
            }
            *object = static_cast<IAudioMeterInformation*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = InterlockedDecrement(&refs_);
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

    // IAudioSessionControl
    HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* state) override {
        *state = SessionWorld::instance().isActive(index_) ? AudioSessionStateActive : AudioSessionStateInactive;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIconPath(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIconPath(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGroupingParam(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetGroupingParam(LPCGUID, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterAudioSessionNotification(IAudioSessionEvents*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterAudioSessionNotification(IAudioSessionEvents*) override { return E_NOTIMPL; }

    // IAudioSessionControl2
    HRESULT STDMETHODCALLTYPE GetSessionIdentifier(LPWSTR* id) override {
        *id = nullptr;
        if (FAILED(state_.idFailure)) {
            return state_.idFailure;
        }
        *id = taskString(state_.id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSessionInstanceIdentifier(LPWSTR* id) override {
        *id = state_.instance.empty() ? nullptr : taskString(state_.instance);
        return state_.instance.empty() ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* pid) override {
        if (SUCCEEDED(state_.pidResult)) {
            *pid = state_.pid;
        }
        return state_.pidResult;
    }
    HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDuckingPreference(BOOL) override { return E_NOTIMPL; }

    // ISimpleAudioVolume
    HRESULT STDMETHODCALLTYPE SetMasterVolume(float level, LPCGUID) override {
        return SessionWorld::instance().setVolume(index_, level);
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolume(float* level) override {
        return SessionWorld::instance().readVolume(index_, *level);
    }
    HRESULT STDMETHODCALLTYPE SetMute(BOOL, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMute(BOOL*) override { return E_NOTIMPL; }

    // IAudioMeterInformation
    HRESULT STDMETHODCALLTYPE GetPeakValue(float* peak) override {
        if (FAILED(state_.peakFailure)) {
            return state_.peakFailure;
        }
        *peak = state_.peak;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMeteringChannelCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetChannelsPeakValues(UINT32, float*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD*) override { return E_NOTIMPL; }

private:
    LONG refs_ = 1;
    std::size_t index_;
    SessionState state_;
};

class SessionEnumeratorDouble final : public ComObject<IAudioSessionEnumerator> {
public:
    explicit SessionEnumeratorDouble(std::vector<std::size_t> sessions) : sessions_(std::move(sessions)) {}

    HRESULT STDMETHODCALLTYPE GetCount(int* count) override {
        *count = static_cast<int>(sessions_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSession(int index, IAudioSessionControl** session) override {
        *session = nullptr;
        if (index < 0 || static_cast<std::size_t>(index) >= sessions_.size()) {
            return E_INVALIDARG;
        }
        const std::size_t at = sessions_[static_cast<std::size_t>(index)];
        const HRESULT failure = SessionWorld::instance().session(at).getFailure;
        if (FAILED(failure)) {
            return failure;
        }
        *session = static_cast<IAudioSessionControl2*>(new SessionControlDouble(at));
        return S_OK;
    }

private:
    std::vector<std::size_t> sessions_;
};

class SessionManagerDouble final : public ComObject<IAudioSessionManager2> {
public:
    explicit SessionManagerDouble(DeviceState device) : device_(std::move(device)) {}

    HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID, DWORD, IAudioSessionControl**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID, DWORD, ISimpleAudioVolume**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** sessions) override {
        *sessions = nullptr;
        if (FAILED(device_.enumFailure)) {
            return device_.enumFailure;
        }
        *sessions = new SessionEnumeratorDouble(SessionWorld::instance().sessionsOf(device_.id));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR, IAudioVolumeDuckNotification*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterDuckNotification(IAudioVolumeDuckNotification*) override { return E_NOTIMPL; }

private:
    DeviceState device_;
};

}  // namespace

IAudioSessionManager2* newSessionManager(const DeviceState& device) {
    return new SessionManagerDouble(device);
}
