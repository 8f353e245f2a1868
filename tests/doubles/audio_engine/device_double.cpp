// The device half of the double: the MMDeviceEnumerator class, served through
// DllGetClassObject, and its playback devices.

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include "audio_client_double.h"
#include "com_object.h"
#include "script.h"
#include "session_double.h"
#include "session_world.h"

namespace {

class DeviceDouble final : public ComObject<IMMDevice> {
public:
    explicit DeviceDouble(DeviceState device) : device_(std::move(device)) {}

    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD context, PROPVARIANT* params, void** object) override {
        record("device_activate " + device_.id + " iid=" + formatGuid(iid) + " context=" + std::to_string(context) +
               (params == nullptr ? " params=null" : " params=set"));
        *object = nullptr;
        if (iid == __uuidof(IAudioSessionManager2)) {
            if (FAILED(device_.activateFailure)) {
                return device_.activateFailure;
            }
            *object = newSessionManager(device_);
            return S_OK;
        }
        const HRESULT result = Script::instance().result("default_activate");
        if (FAILED(result)) {
            return result;
        }
        if (iid == __uuidof(IAudioClient)) {
            *object = static_cast<IAudioClient*>(
                new AudioClientDouble("default_client", scriptedFormat("default_mix_format", "ext-float"),
                                      scriptedFormatResult("default_mix_format")));
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
        *state = device_.active ? DEVICE_STATE_ACTIVE : DEVICE_STATE_DISABLED;
        return S_OK;
    }

private:
    DeviceState device_;
};

class DeviceCollectionDouble final : public ComObject<IMMDeviceCollection> {
public:
    explicit DeviceCollectionDouble(std::vector<DeviceState> devices) : devices_(std::move(devices)) {}

    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
        *count = static_cast<UINT>(devices_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
        *device = nullptr;
        if (index >= devices_.size()) {
            return E_INVALIDARG;
        }
        if (FAILED(devices_[index].itemFailure)) {
            return devices_[index].itemFailure;
        }
        *device = new DeviceDouble(devices_[index]);
        return S_OK;
    }

private:
    std::vector<DeviceState> devices_;
};

class DeviceEnumeratorDouble final : public ComObject<IMMDeviceEnumerator> {
public:
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD mask, IMMDeviceCollection** devices) override {
        record("enum_endpoints flow=" + std::to_string(flow) + " mask=" + std::to_string(mask));
        *devices = nullptr;
        const HRESULT result = Script::instance().result("enum_endpoints");
        if (FAILED(result)) {
            return result;
        }
        std::vector<DeviceState> matching;
        for (const auto& device : SessionWorld::instance().devices()) {
            if (((mask & DEVICE_STATE_ACTIVE) != 0) == device.active) {
                matching.push_back(device);
            }
        }
        *devices = new DeviceCollectionDouble(std::move(matching));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** device) override {
        record("get_default_endpoint flow=" + std::to_string(flow) + " role=" + std::to_string(role));
        *device = nullptr;
        const HRESULT result = Script::instance().result("default_endpoint");
        if (FAILED(result)) {
            return result;
        }
        *device = new DeviceDouble(*SessionWorld::instance().defaultDevice());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }
};

class EnumeratorFactory final : public ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        *object = nullptr;
        record("create_enumerator iid=" + formatGuid(riid));
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        const HRESULT result = Script::instance().result("enumerator");
        if (FAILED(result)) {
            return result;
        }
        auto* enumerator = new DeviceEnumeratorDouble();
        const HRESULT hr = enumerator->QueryInterface(riid, object);
        enumerator->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    *object = nullptr;
    if (clsid != __uuidof(MMDeviceEnumerator)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    auto* factory = new EnumeratorFactory();
    const HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() {
    return S_FALSE;
}

// Objects handed out by the double outlive the program's own reference on the library (it frees
// Mmdevapi.dll once activation is done, as the system's copy stays loaded for the audio stack),
// so the double keeps itself loaded for the life of the process.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(instance), &pinned);
    }
    return TRUE;
}
