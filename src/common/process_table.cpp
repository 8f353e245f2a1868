#include "common/process_table.h"

#include "common/process_identity.h"
#include "common/text.h"

bool isRelatedProcess(std::uint32_t pid, std::uint32_t targetPid, const ProcessTable& table, std::uint32_t ownPid) {
    if (pid == 0 || targetPid == 0) {
        return false;
    }
    if (pid == targetPid || pid == ownPid) {
        return true;
    }
    for (int step = 0; step < kMaxAncestorSteps; ++step) {
        const auto entry = table.find(pid);
        if (entry == table.end()) {
            return false;
        }
        const std::uint32_t parent = entry->second.parentPid;
        if (parent == targetPid || parent == ownPid) {
            return true;
        }
        if (parent == 0 || parent == pid) {
            return false;
        }
        pid = parent;
    }
    return false;
}

std::string sessionLabel(const std::string& name, std::uint32_t pid) {
    const std::string number = std::to_string(pid);
    return name.empty() ? "pid " + number : escapeControlBytes(name) + " (pid " + number + ")";
}

std::string processLabel(std::uint32_t pid, const ProcessTable& table) {
    const auto entry = table.find(pid);
    return sessionLabel(entry == table.end() ? std::string() : wideToUtf8(entry->second.exeName), pid);
}

const ProcessTable& KeptProcessTable::forProcesses(const std::vector<std::uint32_t>& pids, bool fresh) {
    std::map<std::uint32_t, std::uint64_t> created;
    bool known = taken_ && !fresh;
    for (const std::uint32_t pid : pids) {
        if (pid == 0 || created.count(pid) > 0) {
            continue;
        }
        const std::optional<ProcessIdentity> identity = processIdentityOf(pid);
        if (!identity) {
            continue;  // ended: its entry, if the table has one, still tells where it stood
        }
        created[pid] = identity->creationTime;
        const auto checked = created_.find(pid);
        if (table_.count(pid) == 0 || checked == created_.end() || checked->second != identity->creationTime) {
            known = false;
        }
    }
    if (!known) {
        table_ = snapshotProcesses();
        taken_ = true;
    }
    // Only the processes asked about now are remembered: the others' ids may be taken meanwhile.
    created_.clear();
    for (const auto& [pid, time] : created) {
        if (table_.count(pid) > 0) {
            created_[pid] = time;
        }
    }
    return table_;
}
