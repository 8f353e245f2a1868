// The process table from /proc: each process's parent, and the file name of its executable
// (the link /proc/<pid>/exe, or the kernel's short name when the link cannot be read).

#include <dirent.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>

#include "common/executable_link_linux.h"
#include "common/process_table.h"
#include "common/text.h"

namespace {

bool readEntry(std::uint32_t pid, ProcessEntry& entry) {
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(statFile, stat)) {
        return false;
    }
    // "pid (name) state ppid ...": the name may hold spaces and parentheses; the last ')' ends it.
    const std::size_t open = stat.find('(');
    const std::size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    unsigned long parent = 0;
    if (!(rest >> state >> parent)) {
        return false;
    }
    entry.parentPid = static_cast<std::uint32_t>(parent);

    const std::string path = executableLinkOf(pid);
    std::string name;
    if (!path.empty()) {
        name = path.substr(path.rfind('/') + 1);
        // A replaced executable reads "name (deleted)".
        const std::string deleted = " (deleted)";
        if (name.size() > deleted.size() && name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0) {
            name.resize(name.size() - deleted.size());
        }
    } else {
        name = stat.substr(open + 1, close - open - 1);
    }
    entry.exeName = utf8ToWide(name);
    return true;
}

}  // namespace

ProcessTable snapshotProcesses() {
    ProcessTable table;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return table;
    }
    while (const dirent* item = readdir(proc)) {
        const std::optional<std::uint64_t> number = parseWholeDecimal(item->d_name, UINT32_MAX);
        if (!number || *number == 0) {
            continue;
        }
        const auto pid = static_cast<std::uint32_t>(*number);
        ProcessEntry entry;
        if (readEntry(pid, entry)) {
            table[pid] = entry;
        }
    }
    closedir(proc);
    return table;
}
