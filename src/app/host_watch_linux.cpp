#include "app/host_watch.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <thread>

#include "common/log.h"
#include "common/protocol_text.h"

void startHostWatch(RunState& state) {
    struct stat output;
    if (fstat(STDOUT_FILENO, &output) != 0 || !(S_ISFIFO(output.st_mode) || S_ISSOCK(output.st_mode))) {
        return;  // a host that reads the stream holds a pipe (or, as Node does, a socket)
    }
    const pid_t parent = getppid();
    if (parent <= 1) {
        return;
    }
    // A descriptor that becomes readable when that process ends; the parent is still the one
    // that started this process only if it has not been replaced meanwhile.
    const int process = static_cast<int>(syscall(SYS_pidfd_open, parent, 0));
    if (process < 0) {
        return;
    }
    if (getppid() != parent) {
        close(process);
        return;
    }
    try {
        // Detached like the stdin reader: it waits for the host, and ends with the process.
        std::thread([process, &state] {
            pollfd wait{process, POLLIN, 0};
            while (poll(&wait, 1, -1) < 0 && errno == EINTR) {
            }
            close(process);
            stopForEndedHost(state);
        }).detach();
    } catch (const std::exception& error) {
        close(process);
        LogLine() << kHostWatchNotStartedPrefix << error.what();
    }
}
