#pragma once

#include <cstdint>

#include "capture/pcm_downconverter.h"

// One capture on the sound server, from connecting to its end: records the selected
// applications, mixes them on a steady 10 ms clock, and writes the 16 kHz stream to standard
// output until a stop command, a signal (see linux_signals.h) or a closed output ends it.
// Returns the exit status: 1 when the capture could not start, 0 once it ran.
int runLinuxCapture(std::uint32_t pid, bool includeMode, ResampleQuality quality);
