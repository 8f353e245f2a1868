#pragma once

#include <cstdint>
#include <map>
#include <string>

// One picture of the running processes: parent id and executable file name by process id.
struct ProcessEntry {
    std::uint32_t parentPid = 0;
    std::wstring exeName;
};
using ProcessTable = std::map<std::uint32_t, ProcessEntry>;

inline constexpr int kMaxAncestorSteps = 64;

// True for the target, the program itself (ownPid) and the descendants of either, following the
// table's parent links at most 64 steps; false whenever pid or targetPid is 0.
bool isRelatedProcess(std::uint32_t pid, std::uint32_t targetPid, const ProcessTable& table, std::uint32_t ownPid);

// "player.exe (pid 4242)", or "pid 4242" when the name is empty: a session as log lines name it.
// The name is the process's own choice: its control bytes are escaped (escapeControlBytes).
std::string sessionLabel(const std::string& name, std::uint32_t pid);
// The label with the name the table gives the process.
std::string processLabel(std::uint32_t pid, const ProcessTable& table);

// Whether a capture mode selects a process of that relation to the target's tree: include mode
// the related ones, exclude mode every other one.
inline bool selectedByMode(bool related, bool includeMode) {
    return related == includeMode;
}

// Whether the capture records the audio of a process: include mode the target's tree and the
// program's own (which plays nothing), exclude mode every other process.
inline bool isRecordedProcess(std::uint32_t pid, std::uint32_t targetPid, bool includeMode, const ProcessTable& table,
                              std::uint32_t ownPid) {
    return selectedByMode(isRelatedProcess(pid, targetPid, table, ownPid), includeMode);
}

// Takes a snapshot of the running processes; empty when none can be taken.
ProcessTable snapshotProcesses();
