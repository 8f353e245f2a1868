#include "common/process_identity_windows.h"

#include <windows.h>

#include "common/handles_windows.h"

std::uint64_t processCreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

ProcessIdentity currentProcessIdentity() {
    return {GetCurrentProcessId(), processCreationTime(GetCurrentProcess())};
}

bool isProcessAlive(const ProcessIdentity& identity) {
    const UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, identity.pid));
    return process && processCreationTime(process.get()) == identity.creationTime &&
           WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}
