#include "common/process_table.h"

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
