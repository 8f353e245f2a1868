#include "common/process_descriptor_linux.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

ProcessDescriptor::ProcessDescriptor(pid_t pid) : descriptor_(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))) {}

ProcessDescriptor::~ProcessDescriptor() {
    if (descriptor_ >= 0) {
        close(descriptor_);
    }
}

ProcessDescriptor::ProcessDescriptor(ProcessDescriptor&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)) {}

void ProcessDescriptor::waitForEnd() const {
    pollfd ended{descriptor_, POLLIN, 0};
    while (poll(&ended, 1, -1) < 0 && errno == EINTR) {
    }
}
