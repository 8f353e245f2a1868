#pragma once

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include "app/com_ref.h"

#include <cstdint>

// Receives the completion of ActivateAudioInterfaceAsync on a thread of the platform's and
// wakes the waiting main thread. Agile: it aggregates the free-threaded marshaler.
class CompletionHandler final : public IActivateAudioInterfaceCompletionHandler {
public:
    explicit CompletionHandler(HANDLE completionEvent);

    // Aggregates the free-threaded marshaler with this object as the controlling IUnknown.
    HRESULT createFreeThreadedMarshaler();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) override;

    // Read by the creator after the completion event was signalled.
    HRESULT activateResult() const { return activateResult_; }
    IAudioClient* audioClient() const { return audioClient_; }

private:
    ~CompletionHandler() = default;

    LONG refCount_ = 1;
    HANDLE completionEvent_;  // owned by the creator
    IAudioClient* audioClient_ = nullptr;
    HRESULT activateResult_ = S_OK;
    IUnknown* freeThreadedMarshaler_ = nullptr;
};

// Activates a process-loopback IAudioClient that captures the target's process tree
// (include) or everything but it (exclude). On failure it has logged why and returns null.
ComRef<IAudioClient> activateProcessLoopbackClient(std::uint32_t pid, bool includeMode);
