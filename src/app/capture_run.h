#pragma once

#include <cstdint>

#include "capture/pcm_downconverter.h"
#include "capture/steady_stream.h"

// One capture from activation to its end, inside the COM apartment that the caller entered:
// activates and initialises the client, starts it and the two workers, runs the capture loop
// into standard output, and on every way out stops the ducking, restores the volumes and
// releases the clients. Returns the exit status: 1 when the capture could not start, 0 once
// it ran. The quality chooses how packets become 16 kHz samples, the clock how the stream keeps
// time.
int runCapture(std::uint32_t pid, bool includeMode, ResampleQuality quality, StreamClock clock);
