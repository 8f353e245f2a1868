#include "capture/format_negotiation_windows.h"

#include <mmdeviceapi.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include "common/audio_endpoints_windows.h"
#include "common/log.h"
#include "common/protocol_text.h"
#include "common/handles_windows.h"

namespace {

constexpr DWORD kPrimaryStreamFlags = AUDCLNT_STREAMFLAGS_LOOPBACK;
constexpr DWORD kRetryStreamFlags =
    AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY | AUDCLNT_STREAMFLAGS_LOOPBACK;

// {00000001-0000-0010-8000-00AA00389B71} and {00000003-0000-0010-8000-00AA00389B71}
constexpr GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kSubtypeIeeeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// The default playback device's mix format; logs each failure on the way.
std::optional<CaptureFormat> defaultEndpointMixFormat() {
    DefaultRenderEndpoint endpoint;
    const StepResult opened = endpoint.open();
    if (opened.failedStep == EndpointStep::CreateEnumerator) {
        LogLine() << kEnumeratorFailedPrefix << opened.hr;
        return std::nullopt;
    }
    if (!opened.ok()) {
        LogLine() << kDefaultEndpointFailedPrefix << opened.hr;
        return std::nullopt;
    }
    ComRef<IAudioClient> defaultClient;
    HRESULT hr = endpoint.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, defaultClient.putVoid());
    if (FAILED(hr)) {
        LogLine() << kDefaultClientFailedPrefix << hr;
        return std::nullopt;
    }
    WAVEFORMATEX* mixFormat = nullptr;
    hr = defaultClient->GetMixFormat(&mixFormat);
    std::optional<CaptureFormat> format = CaptureFormat::takeTaskMemory(mixFormat);
    if (FAILED(hr)) {
        LogLine() << kDefaultMixFormatFailedPrefix << hr;
        return std::nullopt;
    }
    LogLine() << kDefaultMixFormatLine;
    return format;
}

CaptureFormat floatStereo48k() {
    WAVEFORMATEXTENSIBLE format = {};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = 2;
    format.Format.nSamplesPerSec = 48000;
    format.Format.nAvgBytesPerSec = 384000;
    format.Format.nBlockAlign = 8;
    format.Format.wBitsPerSample = 32;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = 32;
    format.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    format.SubFormat = kSubtypeIeeeFloat;
    return CaptureFormat::copyOf(format.Format);
}

CaptureFormat pcm16Stereo44k() {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = 176400;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return CaptureFormat::copyOf(format);
}

}  // namespace

std::optional<CaptureFormat> CaptureFormat::takeTaskMemory(WAVEFORMATEX* format) {
    const UniqueTaskMem<WAVEFORMATEX> owner(format);
    if (format == nullptr) {
        return std::nullopt;
    }
    return copyOf(*format);
}

CaptureFormat CaptureFormat::copyOf(const WAVEFORMATEX& format) {
    CaptureFormat copy;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&format);
    copy.bytes_.assign(bytes, bytes + sizeof(WAVEFORMATEX) + format.cbSize);
    return copy;
}

FormatSummary CaptureFormat::summary() const {
    const WAVEFORMATEX& format = *get();
    bool subFormatIsPcm = false;
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && format.cbSize >= 22) {
        subFormatIsPcm = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format).SubFormat == kSubtypePcm;
    }
    return {format.nSamplesPerSec, format.nChannels, format.wBitsPerSample,
            decideFloatFlag(format.wFormatTag, subFormatIsPcm)};
}

std::optional<InitializedCapture> negotiateAndInitialize(IAudioClient* audioClient) {
    WAVEFORMATEX* mixFormat = nullptr;
    HRESULT hr = audioClient->GetMixFormat(&mixFormat);
    std::optional<CaptureFormat> format = CaptureFormat::takeTaskMemory(mixFormat);
    if (FAILED(hr)) {
        LogLine() << virtualMixFormatFailedLine(hr);
        format = defaultEndpointMixFormat();
    }
    if (!format) {
        LogLine() << kFallbackFormatLine;
        format = floatStereo48k();
    }

    hr = audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, kPrimaryStreamFlags, 0, 0, format->get(), nullptr);
    if (FAILED(hr)) {
        LogLine() << primaryInitializeFailedLine(hr);
        format = pcm16Stereo44k();
        hr = audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, kRetryStreamFlags, 0, 0, format->get(), nullptr);
        if (FAILED(hr)) {
            LogLine() << kInitializeFailedPrefix << hr;
            return std::nullopt;
        }
    }

    ComRef<IAudioCaptureClient> captureClient;
    hr = audioClient->GetService(__uuidof(IAudioCaptureClient), captureClient.putVoid());
    if (FAILED(hr)) {
        LogLine() << kGetServiceFailedPrefix << hr;
        return std::nullopt;
    }
    return InitializedCapture{std::move(*format), std::move(captureClient)};
}
