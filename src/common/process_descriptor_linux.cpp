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

bool ProcessDescriptor::waitForEnd(int interrupt) const {
    // poll passes over a negative descriptor.
    pollfd watched[] = {{descriptor_, POLLIN, 0}, {interrupt, POLLIN, 0}};
    while (poll(watched, 2, -1) < 0 && errno == EINTR) {
    }
    return watched[0].revents != 0;
}
