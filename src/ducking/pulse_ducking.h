#pragma once

#include <cstdint>

#include "common/pulse_connection.h"

// Ducking on the sound server: the other applications' sink inputs (as the capture mode selects
// them, with the same exclusions as on Windows) are lowered to the ratio of their volume from
// before, once each, by the same ledger; a new ratio is applied to the volume from before, and
// a ratio of 0.999 or more puts them back. The volume is the stream's linear level (the loudest
// channel's), which each channel is scaled by, so that a stream's balance survives.

// The ducking thread: a pass about once a second, at once after a new ratio, until the workers
// stop.
void pulseDuckingThreadMain(PulseConnection& pulse, std::uint32_t targetPid);

// Puts every lowered stream still at the volume the program set back to its volume from before
// (each channel as it was); one a user changed meanwhile is left as the user set it.
void restorePulseVolumes(PulseConnection& pulse);
