#pragma once

#include <sys/types.h>

// A pidfd: it names one process for good from its opening, and becomes readable when that
// process ends. Closed by its holder.
class ProcessDescriptor {
public:
    // Of the process `pid` now; not valid when there is none, or the kernel offers no pidfd.
    explicit ProcessDescriptor(pid_t pid);
    ~ProcessDescriptor();
    ProcessDescriptor(ProcessDescriptor&& other) noexcept;
    ProcessDescriptor(const ProcessDescriptor&) = delete;
    ProcessDescriptor& operator=(const ProcessDescriptor&) = delete;
    ProcessDescriptor& operator=(ProcessDescriptor&&) = delete;

    bool valid() const { return descriptor_ >= 0; }
    // Returns once the process has ended, at once when it has already; a signal that interrupts
    // the wait does not end it. With `interrupt` (a descriptor; -1: none), also once that is
    // readable: true when the process has ended.
    bool waitForEnd(int interrupt = -1) const;

private:
    int descriptor_;
};
