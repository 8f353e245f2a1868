#include "app/guardian.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "common/log.h"
#include "common/process_descriptor_linux.h"
#include "common/protocol_text.h"
#include "common/pulse_connection_linux.h"
#include "ducking/journal_recovery.h"
#include "ducking/session_volumes_linux.h"

namespace {

// The guardian's end of a pipe whose other end only the program holds: it reads end-of-file
// the moment the program ends, however it ends.
constexpr int kWatchDescriptor = 3;

// Returns once the program has ended: through the pipe, then, while the identity it was given
// still names a running process, on a pidfd of it. An identity that cannot be checked (a start
// time that could not be read) is never waited on.
void waitForEnd(const ProcessIdentity& owner) {
    char byte;
    for (;;) {
        const ssize_t got = read(kWatchDescriptor, &byte, 1);
        if (got == 0 || (got < 0 && errno != EINTR)) {
            break;
        }
    }
    // Opened before the identity is checked, so that the pidfd names the process checked.
    const ProcessDescriptor process(static_cast<pid_t>(owner.pid));
    if (process.valid() && isProcessAlive(owner)) {
        process.waitForEnd();
    }
}

}  // namespace

void startGuardian() {
    const ProcessIdentity self = currentProcessIdentity();
    const std::string pid = std::to_string(self.pid);
    const std::string start = std::to_string(self.creationTime);
    int watch[2];
    if (pipe2(watch, O_CLOEXEC) != 0) {
        LogLine() << kGuardianNotStartedPrefix << errno;
        return;
    }
    // Two forks: the guardian is nobody's child here, so it never waits to be reaped by us, and no
    // walk down the process tree from the host by parent id reaches it.
    const pid_t child = fork();
    if (child < 0) {
        LogLine() << kGuardianNotStartedPrefix << errno;
        close(watch[0]);
        close(watch[1]);
        return;
    }
    if (child == 0) {
        // The session comes first, so that the guardian is born in it: once the wait below
        // returns, a signal to the host's process group or session can no longer reach it.
        setsid();
        if (fork() != 0) {
            _exit(0);
        }
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        dup2(watch[0], kWatchDescriptor);
        fcntl(kWatchDescriptor, F_SETFD, 0);
        close_range(kWatchDescriptor + 1, ~0U, 0);
        const char* const argv[] = {"quillmere", kGuardianOption, pid.c_str(), start.c_str(), nullptr};
        execv("/proc/self/exe", const_cast<char* const*>(argv));
        _exit(127);
    }
    // The write end stays open, unused, for as long as the program runs.
    close(watch[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

int runGuardian(const ProcessIdentity& owner) {
    waitForEnd(owner);
    std::string error;
    const std::unique_ptr<PulseConnection> pulse = PulseConnection::open("Quillmere guardian", error);
    if (!pulse) {
        return 1;  // the next start recovers the journal
    }
    PulseSessionVolumes sessions(*pulse);
    recoverJournalOf(sessions, owner);
    return 0;
}
