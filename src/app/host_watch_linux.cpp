#include "app/host_watch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <thread>
#include <utility>

#include "common/log.h"
#include "common/process_descriptor_linux.h"
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
    ProcessDescriptor process(parent);
    if (!process.valid() || getppid() != parent) {
        return;
    }
    try {
        // Detached like the stdin reader: it waits for the host, and ends with the process.
        std::thread([process = std::move(process), &state] {
            process.waitForEnd();
            stopForEndedHost(state);
        }).detach();
    } catch (const std::exception& error) {
        LogLine() << kHostWatchNotStartedPrefix << error.what();
    }
}
