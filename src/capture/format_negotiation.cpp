#include "capture/format_negotiation.h"

#include <mmdeviceapi.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include "app/log.h"

namespace {

constexpr DWORD kPrimaryStreamFlags = AUDCLNT_STREAMFLAGS_LOOPBACK;
constexpr DWORD kRetryStreamFlags =
    AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY | AUDCLNT_STREAMFLAGS_LOOPBACK;

// {00000003-0000-0010-8000-00AA00389B71}
constexpr GUID kSubtypeIeeeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Reads the default playback device's mix format into the slot; logs each failure.
void readDefaultEndpointMixFormat(WAVEFORMATEX** slot) {
    ComRef<IMMDeviceEnumerator> enumerator;
    HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                  enumerator.putVoid());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Failed to create device enumerator: " << hr;
        return;
    }
    ComRef<IMMDevice> device;
    hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Failed to get default render endpoint: " << hr;
        return;
    }
    ComRef<IAudioClient> defaultClient;
    hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, defaultClient.putVoid());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Failed to activate default client: " << hr;
        return;
    }
    hr = defaultClient->GetMixFormat(slot);
    if (SUCCEEDED(hr)) {
        LogLine() << "[win-helper] Successfully retrieved mix format from default render endpoint.";
    } else {
        LogLine() << "[win-helper] GetMixFormat on default client failed: " << hr;
    }
}

WAVEFORMATEX* allocateFloatStereo48k() {
    auto* format = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
    if (format == nullptr) {
        return nullptr;
    }
    ZeroMemory(format, sizeof *format);
    format->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format->Format.nChannels = 2;
    format->Format.nSamplesPerSec = 48000;
    format->Format.nAvgBytesPerSec = 384000;
    format->Format.nBlockAlign = 8;
    format->Format.wBitsPerSample = 32;
    format->Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format->Samples.wValidBitsPerSample = 32;
    format->dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    format->SubFormat = kSubtypeIeeeFloat;
    return &format->Format;
}

}  // namespace

void CaptureFormat::adoptTaskMemory(WAVEFORMATEX* format) {
    freeTaskMemory();
    format_ = format;
    isTaskMemory_ = true;
}

void CaptureFormat::usePcm16Fallback() {
    freeTaskMemory();
    pcm16_ = {};
    pcm16_.wFormatTag = WAVE_FORMAT_PCM;
    pcm16_.nChannels = 2;
    pcm16_.nSamplesPerSec = 44100;
    pcm16_.nAvgBytesPerSec = 176400;
    pcm16_.nBlockAlign = 4;
    pcm16_.wBitsPerSample = 16;
    pcm16_.cbSize = 0;
    format_ = &pcm16_;
    isTaskMemory_ = false;
}

void CaptureFormat::freeTaskMemory() {
    if (isTaskMemory_ && format_ != nullptr) {
        CoTaskMemFree(format_);
        format_ = nullptr;
    }
}

bool negotiateAndInitialize(ComRef<IAudioClient>& audioClient, CaptureFormat& format,
                            ComRef<IAudioCaptureClient>& captureClient) {
    HRESULT hr = audioClient->GetMixFormat(format.taskMemorySlot());
    if (FAILED(hr)) {
        LogLine() << "[win-helper] GetMixFormat on virtual device failed (hr=" << hr
                  << "). Trying to retrieve system mix format from default render endpoint...";
        readDefaultEndpointMixFormat(format.taskMemorySlot());
    }
    if (format.get() == nullptr) {
        LogLine() << "[win-helper] Using hardcoded 32-bit float stereo 48kHz fallback format...";
        WAVEFORMATEX* fixedFormat = allocateFloatStereo48k();
        if (fixedFormat != nullptr) {
            format.adoptTaskMemory(fixedFormat);
        } else {
            format.usePcm16Fallback();
        }
    }

    hr = audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, kPrimaryStreamFlags, 0, 0, format.get(), nullptr);
    if (FAILED(hr)) {
        LogLine() << "[win-helper] Primary Initialize failed (hr=" << hr
                  << "). Retrying with 16-bit PCM and Auto-Convert...";
        format.usePcm16Fallback();
        hr = audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, kRetryStreamFlags, 0, 0, format.get(), nullptr);
        if (FAILED(hr)) {
            LogLine() << "[win-helper] IAudioClient::Initialize failed: " << hr;
            audioClient.reset();
            return false;
        }
    }

    hr = audioClient->GetService(__uuidof(IAudioCaptureClient), captureClient.putVoid());
    if (FAILED(hr)) {
        LogLine() << "GetService(IAudioCaptureClient) failed: " << hr;
        format.freeTaskMemory();
        audioClient.reset();
        return false;
    }
    return true;
}
