#include "capture/loopback_activation_windows.h"

#include <mmdeviceapi.h>

#include <cstdio>
#include <string>
#include <utility>

#include "capture/activation_params_windows.h"
#include "common/log.h"
#include "common/protocol_text.h"
#include "common/handles_windows.h"

namespace {

using ActivateAudioInterfaceAsyncFn = HRESULT(WINAPI*)(LPCWSTR, REFIID, PROPVARIANT*,
                                                       IActivateAudioInterfaceCompletionHandler*,
                                                       IActivateAudioInterfaceAsyncOperation**);
using RoInitializeFn = HRESULT(WINAPI*)(int);

constexpr HRESULT kIllegalMethodCall = static_cast<HRESULT>(0x8000000E);  // E_ILLEGAL_METHOD_CALL
constexpr HRESULT kChangedMode = static_cast<HRESULT>(0x80010106);        // RPC_E_CHANGED_MODE
constexpr int kRoInitMultithreaded = 1;                                   // RO_INIT_MULTITHREADED
constexpr DWORD kParamsSize = sizeof(AUDIOCLIENT_ACTIVATION_PARAMS);

// {00000003-0000-0000-C000-000000000046}
constexpr IID kIidMarshal = {0x00000003, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// How long the main thread waits for the activation to complete. Nothing else can end the wait
// (the stdin reader is not running yet), so a platform that never completes must not hang the
// program.
constexpr DWORD kActivationTimeoutMs = 10000;

// Receives the completion of ActivateAudioInterfaceAsync on a thread of the platform's and
// wakes the waiting main thread. Agile: it aggregates the free-threaded marshaler. It owns its
// event, so a completion that comes after the main thread gave up still finds it.
class CompletionHandler final : public IActivateAudioInterfaceCompletionHandler {
public:
    explicit CompletionHandler(UniqueHandle completionEvent) : completionEvent_(std::move(completionEvent)) {}

    // Aggregates the free-threaded marshaler with this object as the controlling IUnknown.
    HRESULT createFreeThreadedMarshaler() { return CoCreateFreeThreadedMarshaler(this, freeThreadedMarshaler_.put()); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) override;

    HANDLE completionEvent() const { return completionEvent_.get(); }
    // Read by the creator after the completion event was signalled.
    HRESULT activateResult() const { return activateResult_; }
    IAudioClient* audioClient() const { return audioClient_.get(); }

private:
    ~CompletionHandler() = default;

    LONG refCount_ = 1;
    const UniqueHandle completionEvent_;
    // Released when the last reference goes: the client first, then the marshaler.
    ComRef<IUnknown> freeThreadedMarshaler_;
    ComRef<IAudioClient> audioClient_;
    HRESULT activateResult_ = S_OK;
};

const char* interfaceLabel(REFIID riid) {
    if (riid == __uuidof(IUnknown)) {
        return "IUnknown";
    }
    if (riid == __uuidof(IActivateAudioInterfaceCompletionHandler)) {
        return "IActivateAudioInterfaceCompletionHandler";
    }
    if (riid == __uuidof(IAgileObject)) {
        return "IAgileObject";
    }
    if (riid == kIidMarshal) {
        return "IMarshal";
    }
    return "Unknown";
}

std::string formatIid(REFIID riid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(riid.Data1), riid.Data2, riid.Data3, riid.Data4[0], riid.Data4[1],
                  riid.Data4[2], riid.Data4[3], riid.Data4[4], riid.Data4[5], riid.Data4[6], riid.Data4[7]);
    return text;
}

// Only for E_ILLEGAL_METHOD_CALL: start WinRT in the multithreaded apartment and, when that
// worked or WinRT was already up, call once more. Returns the result that stands.
HRESULT retryAfterRoInitialize(HRESULT firstResult, ActivateAudioInterfaceAsyncFn activate, PROPVARIANT* params,
                               CompletionHandler* handler, IActivateAudioInterfaceAsyncOperation** operation) {
    LogLine() << kRoInitializeAttemptLine;
    const UniqueLibrary winrt(
        LoadLibraryExW(L"api-ms-win-core-winrt-l1-1-0.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!winrt) {
        return firstResult;
    }
    const auto roInitialize =
        reinterpret_cast<RoInitializeFn>(reinterpret_cast<void*>(GetProcAddress(winrt.get(), "RoInitialize")));
    if (roInitialize == nullptr) {
        return firstResult;
    }
    const HRESULT roResult = roInitialize(kRoInitMultithreaded);
    LogLine() << kRoInitializeResultPrefix << roResult;
    if (FAILED(roResult) && roResult != kChangedMode) {
        return firstResult;
    }
    LogLine() << kActivationRetryLine;
    return activate(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, __uuidof(IAudioClient), params, handler, operation);
}

HRESULT STDMETHODCALLTYPE CompletionHandler::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    HRESULT hr;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IActivateAudioInterfaceCompletionHandler) ||
        riid == __uuidof(IAgileObject)) {
        *ppvObject = static_cast<IActivateAudioInterfaceCompletionHandler*>(this);
        AddRef();
        hr = S_OK;
    } else if (riid == kIidMarshal && freeThreadedMarshaler_) {
        hr = freeThreadedMarshaler_->QueryInterface(riid, ppvObject);
    } else {
        *ppvObject = nullptr;
        hr = E_NOINTERFACE;
    }
    LogLine() << queryInterfaceLine(formatIid(riid), interfaceLabel(riid), hr);
    return hr;
}

ULONG STDMETHODCALLTYPE CompletionHandler::Release() {
    const LONG count = InterlockedDecrement(&refCount_);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CompletionHandler::ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) {
    IUnknown* activated = nullptr;
    const HRESULT hr = operation->GetActivateResult(&activateResult_, &activated);
    if (SUCCEEDED(hr) && SUCCEEDED(activateResult_) && activated != nullptr) {
        activated->QueryInterface(__uuidof(IAudioClient), audioClient_.putVoid());
    }
    if (activated != nullptr) {
        activated->Release();
    }
    SetEvent(completionEvent_.get());
    return S_OK;
}

}  // namespace

ComRef<IAudioClient> activateProcessLoopbackClient(std::uint32_t pid, bool includeMode) {
    // From System32 only: never a Mmdevapi.dll planted beside the program.
    UniqueLibrary mmdevapi(LoadLibraryExW(L"Mmdevapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!mmdevapi) {
        LogLine() << kMmdevapiNotLoadedLine;
        return nullptr;
    }
    const auto activate = reinterpret_cast<ActivateAudioInterfaceAsyncFn>(
        reinterpret_cast<void*>(GetProcAddress(mmdevapi.get(), "ActivateAudioInterfaceAsync")));
    if (activate == nullptr) {
        LogLine() << kEntryPointMissingLine;
        return nullptr;
    }
    UniqueHandle completionEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!completionEvent) {
        LogLine() << kCreateEventFailedLine;
        return nullptr;
    }

    AUDIOCLIENT_ACTIVATION_PARAMS params = {};
    params.ActivationType = AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK;
    params.ProcessLoopbackParams.TargetProcessId = pid;
    params.ProcessLoopbackParams.ProcessLoopbackMode = includeMode ? PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE
                                                                   : PROCESS_LOOPBACK_MODE_EXCLUDE_TARGET_PROCESS_TREE;
    PROPVARIANT activateParams;
    ZeroMemory(&activateParams, sizeof activateParams);
    activateParams.vt = VT_BLOB;
    activateParams.blob.cbSize = kParamsSize;
    activateParams.blob.pBlobData = reinterpret_cast<BYTE*>(&params);

    // The creator's reference; the platform holds its own while the operation needs the handler.
    auto handler = ComRef<CompletionHandler>::adopt(new CompletionHandler(std::move(completionEvent)));
    LogLine() << kMarshalerResultPrefix << handler->createFreeThreadedMarshaler();

    LogLine() << kActivationCallLine;
    LogLine() << activationLine(includeMode, pid);
    LogLine() << kParamsSizePrefix << kParamsSize;

    ComRef<IActivateAudioInterfaceAsyncOperation> operation;
    HRESULT hr = activate(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, __uuidof(IAudioClient), &activateParams, handler.get(),
                          operation.put());
    if (FAILED(hr)) {
        LogLine() << activationFailedLine(hr);
        if (hr == kIllegalMethodCall) {
            hr = retryAfterRoInitialize(hr, activate, &activateParams, handler.get(), operation.put());
        }
        if (FAILED(hr)) {
            LogLine() << kActivationFailedForGoodPrefix << hr;
            return nullptr;
        }
    }

    if (WaitForSingleObject(handler->completionEvent(), kActivationTimeoutMs) != WAIT_OBJECT_0) {
        LogLine() << kActivationTimeoutLine;
        // The operation is still outstanding: its code must stay loaded for a late completion.
        mmdevapi.release();
        return nullptr;
    }

    if (FAILED(handler->activateResult())) {
        LogLine() << kActivationErrorPrefix << handler->activateResult();
        return nullptr;
    }
    ComRef<IAudioClient> client = ComRef<IAudioClient>::share(handler->audioClient());
    if (!client) {
        LogLine() << kNoAudioClientLine;
    }
    return client;
}
