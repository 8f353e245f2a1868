#include "common/executable_link_linux.h"

#include <unistd.h>

std::string executableLinkOf(std::uint32_t pid) {
    char target[4096];
    const ssize_t length = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}
