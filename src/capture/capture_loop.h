#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstddef>
#include <cstdint>

#include "capture/pcm_downconverter.h"
#include "capture/steady_stream.h"

// Where the converted samples of each packet go.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    // False once the bytes can no longer be delivered; the sink has said why.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
};

// Runs while g_captureLoopActive holds: every 10 ms (or at once when a stop is signalled) it
// drains every waiting packet back to back and releases each. A failed capture call or a failed
// write ends it, with a line.
// With the packet clock, each packet is converted and written as it comes. With the steady clock
// each packet's stamps are asked for too, and its mono frames go onto the wall clock from the
// call on (SteadyStream): after each drain what is due is written, and at the end (unless a
// write failed) what is held, then silence up to the stop.
void runCaptureLoop(IAudioCaptureClient* captureClient, PcmDownconverter& converter, SampleSink& sink,
                    StreamClock clock);
