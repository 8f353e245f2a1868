#pragma once

// Puts every saved volume back on the default playback device's sessions whose identifier was
// saved, active or not. Reads g_savedVolumes and never changes it. The calling thread must be
// able to make COM calls in the multithreaded apartment.
void restoreSessionVolumes();
