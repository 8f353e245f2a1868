#pragma once

#include <audiopolicy.h>

#include "session_world.h"

// A session manager over the script's sessions of this device; the caller owns the reference.
IAudioSessionManager2* newSessionManager(const DeviceState& device);
