// Process identity on Linux: the id and the start time the kernel keeps for it (clock ticks
// since boot, /proc/<pid>/stat), which together name one process for good.

#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "common/process_identity.h"
#include "common/text.h"

namespace {

// Nothing when the process is gone, or has ended and waits to be reaped (a zombie), or its
// entry cannot be read.
std::optional<std::uint64_t> startTimeOf(std::uint32_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(file, stat)) {
        return std::nullopt;
    }
    // Fields after the name in parentheses: state is the 3rd field of the line, start time the 22nd.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 3 && field == "Z") {
            return std::nullopt;
        }
        if (index == 22) {
            return parseWholeDecimal(field);
        }
    }
    return std::nullopt;
}

}  // namespace

std::uint32_t currentProcessId() {
    return static_cast<std::uint32_t>(getpid());
}

ProcessIdentity currentProcessIdentity() {
    const std::uint32_t pid = currentProcessId();
    // 0 when it cannot be read: an identity no process matches, so that nothing ever waits on it.
    return {pid, startTimeOf(pid).value_or(0)};
}

std::string currentBootIdentity() {
    static const std::string boot = [] {
        std::ifstream file("/proc/sys/kernel/random/boot_id");
        std::string line;
        std::getline(file, line);
        return line;
    }();
    return boot;
}

std::optional<ProcessIdentity> processIdentityOf(std::uint32_t pid) {
    if (pid == 0) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> start = startTimeOf(pid);
    if (!start) {
        return std::nullopt;
    }
    return ProcessIdentity{pid, *start};
}

bool isProcessAlive(const ProcessIdentity& identity) {
    if (identity.pid == 0 || identity.creationTime == 0) {
        return false;  // an identity that cannot be checked is taken as ended
    }
    const std::optional<std::uint64_t> start = startTimeOf(identity.pid);
    return start && *start == identity.creationTime;
}
