#include "common/process_identity_windows.h"

#include <windows.h>

namespace {

// The creation time of the process behind the handle (it needs query rights); 0 on failure.
std::uint64_t processCreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

UniqueHandle openRunningProcess(std::uint32_t pid, std::uint64_t earliest, std::uint64_t latest) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return process;
    }
    const std::uint64_t created = processCreationTime(process.get());
    if (created < earliest || created > latest || WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) {
        return UniqueHandle();
    }
    return process;
}

std::uint32_t currentProcessId() {
    return GetCurrentProcessId();
}

ProcessIdentity currentProcessIdentity() {
    return {currentProcessId(), processCreationTime(GetCurrentProcess())};
}

std::optional<ProcessIdentity> processIdentityOf(std::uint32_t pid) {
    if (pid == 0) {
        return std::nullopt;
    }
    const UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        // Refused for access: it runs, as a process of another user or a protected one does.
        if (GetLastError() == ERROR_ACCESS_DENIED) {
            return ProcessIdentity{pid, 0};
        }
        return std::nullopt;
    }
    if (WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) {
        return std::nullopt;  // ended; a handle someone holds keeps its id for now
    }
    return ProcessIdentity{pid, processCreationTime(process.get())};
}

bool isProcessAlive(const ProcessIdentity& identity) {
    return static_cast<bool>(openProcessOf(identity));
}

std::string currentBootIdentity() {
    return {};  // creation times are FILETIMEs, good across boots
}
