#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstddef>
#include <cstdint>

#include "capture/pcm_downconverter.h"

// Where the converted samples of each packet go.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    // False once the bytes can no longer be delivered; the sink has said why.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
};

// Runs while g_captureLoopActive holds: every 10 ms (or at once when a stop is signalled) it
// drains every waiting packet back to back, converts each and writes it to the sink, and
// releases each packet. A failed capture call or a failed write ends it, with a line.
void runCaptureLoop(IAudioCaptureClient* captureClient, PcmDownconverter& converter, SampleSink& sink);
