#pragma once

#include <cstdint>

// Activates, initialises and runs one capture to its end inside the COM apartment that the
// caller entered. Returns the exit status: 1 when the capture could not start, 0 once it ran.
// Every COM object is released on return; the caller then leaves the apartment.
int runCaptureSession(std::uint32_t pid, bool includeMode);
