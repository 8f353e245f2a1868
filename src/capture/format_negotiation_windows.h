#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "capture/capture_format.h"
#include "common/com_ref_windows.h"

// The format the capture client was initialised with, held by value: a WAVEFORMATEX with its
// cbSize bytes of extension (a WAVEFORMATEXTENSIBLE among them).
class CaptureFormat {
public:
    // Copies a format that the platform returned in COM task memory, and frees that memory.
    static std::optional<CaptureFormat> takeTaskMemory(WAVEFORMATEX* format);
    static CaptureFormat copyOf(const WAVEFORMATEX& format);

    const WAVEFORMATEX* get() const { return reinterpret_cast<const WAVEFORMATEX*>(bytes_.data()); }
    // Rate, channels, bits and whether the samples are float.
    FormatSummary summary() const;

private:
    std::vector<std::uint8_t> bytes_;
};

struct InitializedCapture {
    CaptureFormat format;
    ComRef<IAudioCaptureClient> captureClient;
};

// Finds a capture format (the client's mix format, the default playback device's, or a fixed
// 48 kHz stereo float format), initialises the client for shared loopback capture (once more
// in 16-bit PCM with automatic conversion if that fails) and obtains the capture client.
// On failure it has logged why and returns nothing; the caller still holds the client.
std::optional<InitializedCapture> negotiateAndInitialize(IAudioClient* audioClient);
