#include "app/host_watch.h"

#include <windows.h>

#include <exception>
#include <thread>

#include "common/log.h"
#include "common/protocol_text.h"
#include "common/process_identity_windows.h"
#include "common/process_table.h"
#include "common/handles_windows.h"

namespace {

// The parent, opened only if it is still the process that started this one: it must have been
// created before this process (a later one reuses the id of a parent that is gone).
UniqueHandle openParent() {
    const ProcessTable table = snapshotProcesses();
    const auto self = table.find(currentProcessId());
    if (self == table.end() || self->second.parentPid == 0) {
        return UniqueHandle();
    }
    return openRunningProcess(self->second.parentPid, 0, currentProcessIdentity().creationTime);
}

}  // namespace

void startHostWatch(RunState& state) {
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_PIPE) {
        return;
    }
    UniqueHandle parent = openParent();
    if (!parent) {
        return;
    }
    try {
        // Detached like the stdin reader: it waits for the host, and ends with the process.
        std::thread([host = std::move(parent), &state] {
            WaitForSingleObject(host.get(), INFINITE);
            stopForEndedHost(state);
        }).detach();
    } catch (const std::exception& error) {
        LogLine() << kHostWatchNotStartedPrefix << error.what();
    }
}
