#pragma once

#include <cstdint>

// Body of the ducking thread: about once a second, lowers the selected active sessions of the
// default playback device to the duck ratio times their volume, follows ratio changes, and
// restores everything when the ratio rises to "no ducking". Runs while g_captureRunning holds.
void duckingThreadMain(std::uint32_t targetPid);
