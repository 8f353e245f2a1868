#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstdint>

#include "common/com_ref_windows.h"

// Activates a process-loopback IAudioClient that captures the target's process tree
// (include) or everything but it (exclude). On
// failure it has logged why and returns null.
ComRef<IAudioClient> activateProcessLoopbackClient(std::uint32_t pid, bool includeMode);
