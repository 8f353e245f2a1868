#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstddef>
#include <cstdint>

#include "capture/pcm_downconverter.h"
#include "capture/sample_sink.h"
#include "capture/steady_stream.h"
#include "common/run_state.h"

// Runs while state.loopActive holds: every 10 ms (or at once when a stop is signalled) it
// drains every waiting packet back to back and releases each. A failed capture call or a failed
// write ends it, with a line.
// With the packet clock, each packet is converted and written as it comes. With the steady clock
// each packet's stamps are asked for too, and its mono frames go onto the wall clock from
// startCounter on, the performance counter as the client started (SteadyStream): after each
// drain what is due is written, the first time everything since the client's start, and at the
// end (unless a write failed) what is held, then silence up to the stop.
// With `health` (--status; null otherwise) the packets' positions are asked for with either
// clock, and `health` learns when a packet held sound and how much audio the engine dropped.
void runCaptureLoop(IAudioCaptureClient* captureClient, PcmDownconverter& converter, SampleSink& sink,
                    StreamClock clock, std::uint64_t startCounter, RunState& state, CaptureHealth* health);

// The performance counter now, as QueryPerformanceCounter reads it.
std::uint64_t performanceCounterNow();
