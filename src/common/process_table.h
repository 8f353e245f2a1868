#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

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

// The process table kept between the ducking thread's passes: a snapshot of every process is
// the costly part of a pass, so it is taken again only when a process the pass asks about is
// one the table does not know (an id not running at the last snapshot, or one a new process has
// taken since: its creation time differs), or when the caller needs every process as it is now.
// A process that has ended since keeps its entry until the next snapshot, as it would have in a
// snapshot taken a moment earlier.
class KeptProcessTable {
public:
    // The table for these processes (0 is no process); `fresh`: a new snapshot in any case.
    const ProcessTable& forProcesses(const std::vector<std::uint32_t>& pids, bool fresh);

private:
    bool taken_ = false;
    ProcessTable table_;
    // The creation time each process asked about had (0: it could not be read).
    std::map<std::uint32_t, std::uint64_t> created_;
};
