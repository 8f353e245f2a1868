#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstdint>
#include <string>
#include <vector>

#include "com_object.h"

// An IAudioClient that answers from the script: the process-loopback client, or a client of
// a playback device, which only ever serves its mix format.
class AudioClientDouble final : public ComObject<IAudioClient> {
public:
    AudioClientDouble(std::string name, std::vector<std::uint8_t> mixFormat, HRESULT mixFormatResult);
    ~AudioClientDouble() override;

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID session) override;
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override;
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** service) override;

private:
    std::string name_;
    std::vector<std::uint8_t> mixFormat_;
    HRESULT mixFormatResult_;
    std::vector<std::uint8_t> initializedFormat_;
    int initializeCalls_ = 0;
};

// The capture client that plays the script's packets in this format (capture_double.cpp).
IAudioCaptureClient* createCaptureClientDouble(std::vector<std::uint8_t> format);
// The stream's start, from which the packets' times count (capture_double.cpp).
void startCaptureSchedule();

// The mix format a script directive gives ("key fail HR" or "key KIND RATE CHANNELS BITS"),
// and the HRESULT of a "fail" directive.
std::vector<std::uint8_t> scriptedFormat(const char* key, const char* fallbackKind);
HRESULT scriptedFormatResult(const char* key);
