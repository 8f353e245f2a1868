#pragma once

#include <windows.h>

#include <cstdint>

#include "common/process_identity.h"

// The creation time of the process behind the handle (it needs query rights); 0 on failure.
std::uint64_t processCreationTime(HANDLE process);
