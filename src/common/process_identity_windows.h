#pragma once

#include <windows.h>

#include <cstdint>

#include "common/handles_windows.h"
#include "common/process_identity.h"

// The process `pid`, opened to be waited on and queried, while it still runs and was created
// within `earliest`..`latest` (FILETIME counts): since ids are reused, only the creation time
// tells that the id still names the process meant. Null when it has ended, cannot be opened, or
// the id now names a process created outside those bounds.
UniqueHandle openRunningProcess(std::uint32_t pid, std::uint64_t earliest, std::uint64_t latest);

// The process with this identity, while it runs.
inline UniqueHandle openProcessOf(const ProcessIdentity& identity) {
    return openRunningProcess(identity.pid, identity.creationTime, identity.creationTime);
}
