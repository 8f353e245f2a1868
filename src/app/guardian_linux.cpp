#include "app/guardian.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/stop_signals_linux.h"
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

// SIGINT or SIGTERM, when one is waiting on the signalfd; 0 otherwise.
int takenSignal(int signals) {
    signalfd_siginfo info;
    return signals >= 0 && read(signals, &info, sizeof info) == sizeof info ? static_cast<int>(info.ssi_signo) : 0;
}

// Returns 0 once the program has ended: through the pipe, then, while the identity it was given
// still names a running process, on a pidfd of it. An identity that cannot be checked (a start
// time that could not be read) is never waited on. Returns SIGINT or SIGTERM once one comes
// first, through the signalfd `signals` (-1: none watched).
int waitForEnd(const ProcessIdentity& owner, int signals) {
    pollfd watched[] = {{kWatchDescriptor, POLLIN, 0}, {signals, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (const int signal = watched[1].revents != 0 ? takenSignal(signals) : 0; signal != 0) {
            return signal;
        }
        char byte;
        const ssize_t got = watched[0].revents != 0 ? read(kWatchDescriptor, &byte, 1) : 1;
        if (got == 0 || (got < 0 && errno != EINTR)) {
            break;
        }
    }
    // Opened before the identity is checked, so that the pidfd names the process checked.
    const ProcessDescriptor process(static_cast<pid_t>(owner.pid));
    if (process.valid() && isProcessAlive(owner) && !process.waitForEnd(signals)) {
        return takenSignal(signals);
    }
    return 0;
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
    // SIGINT and SIGTERM, blocked since main's start, end the wait as the program's end does:
    // what the program's journal lists is put back, even while the program still runs (its own
    // end puts back what it lowers after), and the guardian then ends by that signal. SIGHUP
    // stays blocked, and the guardian goes on: it is the hangup of a terminal or a login session,
    // which the guardian, in a session of its own and with no terminal, is made to outlive;
    // ending on it would give up a restore still to come.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    const int signals = signalfd(-1, &ending, SFD_NONBLOCK | SFD_CLOEXEC);
    const int signal = waitForEnd(owner, signals);
    if (signals >= 0) {
        close(signals);
    }
    std::string error;
    int status = 0;
    if (const std::unique_ptr<PulseConnection> pulse = PulseConnection::open("Quillmere guardian", error)) {
        PulseSessionVolumes sessions(*pulse);
        recoverJournalOf(sessions, owner);
    } else {
        status = 1;  // the next start recovers the journal
    }
    if (signal != 0) {
        endBySignal(signal);
    }
    return status;
}
