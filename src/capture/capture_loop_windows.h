#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstddef>
#include <cstdint>

#include "capture/pcm_downconverter.h"
#include "capture/sample_sink.h"
#include "common/run_state.h"

// Runs while state.loopActive holds: every 10 ms (or at once when a stop is signalled) it
// drains every waiting packet back to back, converts each and writes it to the sink, and
// releases each packet. A failed capture call or a failed write ends it, with a line.
void runCaptureLoop(IAudioCaptureClient* captureClient, PcmDownconverter& converter, SampleSink& sink, RunState& state);
