// Process identity on Linux: the id and the start time the kernel keeps for it (clock ticks
// since boot, /proc/<pid>/stat), which together name one process for good.

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/process_identity.h"

namespace {

// 0 when the process is gone, or has ended and waits to be reaped (a zombie), or its entry
// cannot be read.
std::uint64_t startTimeOf(std::uint32_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(file, stat)) {
        return 0;
    }
    // Fields after the name in parentheses: state is the 3rd field of the line, start time the 22nd.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 3 && field == "Z") {
            return 0;
        }
        if (index == 22) {
            return std::stoull(field);
        }
    }
    return 0;
}

}  // namespace

ProcessIdentity currentProcessIdentity() {
    const auto pid = static_cast<std::uint32_t>(getpid());
    return {pid, startTimeOf(pid)};
}

bool isProcessAlive(const ProcessIdentity& identity) {
    return identity.pid != 0 && startTimeOf(identity.pid) == identity.creationTime;
}
