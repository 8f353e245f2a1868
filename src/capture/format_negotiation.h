#pragma once

#include <windows.h>
#include <audioclient.h>
#include "app/com_ref.h"

// The format the capture client was initialised with. Task memory is freed by the holder;
// the 16-bit PCM fallback lives in the holder's own storage.
class CaptureFormat {
public:
    CaptureFormat() = default;
    CaptureFormat(const CaptureFormat&) = delete;
    CaptureFormat& operator=(const CaptureFormat&) = delete;
    ~CaptureFormat() { freeTaskMemory(); }

    const WAVEFORMATEX* get() const { return format_; }

    // Takes ownership of COM task memory (null allowed).
    void adoptTaskMemory(WAVEFORMATEX* format);
    // Switches to the 16-bit stereo 44.1 kHz PCM format in own storage.
    void usePcm16Fallback();
    WAVEFORMATEX** taskMemorySlot() { return &format_; }
    void freeTaskMemory();

private:
    WAVEFORMATEX* format_ = nullptr;
    bool isTaskMemory_ = true;
    WAVEFORMATEX pcm16_ = {};
};

// Finds a capture format (the client's mix format, the default playback device's, or a fixed
// 48 kHz stereo float format), initialises the client for shared loopback capture (once more
// in 16-bit PCM with automatic conversion if that fails) and obtains the capture client.
// On failure it has logged why, released the client and returns false.
bool negotiateAndInitialize(ComRef<IAudioClient>& audioClient, CaptureFormat& format,
                            ComRef<IAudioCaptureClient>& captureClient);
