// The program on Linux: the same command line, stdin protocol, stream and exit statuses as on
// Windows, on the sound server through libpulse.

#include <pthread.h>
#include <signal.h>

#include <cstring>
#include <exception>
#include <thread>

#include "app/capture_platform_linux.h"
#include "app/capture_run.h"
#include "app/command_line.h"
#include "app/guardian.h"
#include "common/log.h"
#include "common/process_identity.h"
#include "common/protocol_text.h"
#include "listing/app_listing.h"
#include "listing/session_listing.h"

namespace {

// SIGINT, SIGTERM and SIGHUP end the capture in order: they are blocked in every thread and
// taken by one that waits for them.
sigset_t endSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void startSignalThread() {
    std::thread([] {
        const sigset_t set = endSignals();
        int signal = 0;
        if (sigwait(&set, &signal) == 0) {
            CaptureRun* run = g_activeRun.load();
            run->receivedSignal.exchange(signal);
            LogLine() << kReceivedSignalPrefix << "SIG" << sigabbrev_np(signal);
            run->state().requestCaptureStop();
        }
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    // A closed output is a failed write, not a fatal signal.
    ::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = endSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    LogLine() << kBuildLine;
    // The stream here always keeps steady time.
    const CommandLine commandLine = parseCommandLine(argc, argv, ClockOptions::SteadyOnly);
    switch (commandLine.mode) {
        case RunMode::Capture: break;
        case RunMode::ListSessions: listAudioSessions(); return 0;
        case RunMode::Guardian: return runGuardian({commandLine.guardedPid, commandLine.guardedCreationTime});
        case RunMode::ListApps: listApps(); return 0;
        case RunMode::GuardianStarter:  // the guardian's double fork needs no starter here
        case RunMode::Usage: LogLine() << kLinuxUsageLine; return 1;
    }
    // Never destroyed: the signal thread may still be stopping the run while the process ends.
    auto* platform = new LinuxCapturePlatform;
    auto* run = new CaptureRun(*platform, commandLine.pid, commandLine.includeMode, commandLine.quality,
                               currentProcessIdentity());
    applyCaptureArguments(commandLine, run->state());
    g_activeRun.store(run);
    try {
        startSignalThread();
    } catch (const std::exception& error) {
        LogLine() << kSignalThreadNotStartedPrefix << error.what();
        return 1;
    }
    const int status = run->run();
    const int signal = run->receivedSignal.load();
    if (signal != 0) {
        // Ended by a signal, after the stream's end: the host sees that signal, as it would have
        // without the orderly end.
        flushLog();
        ::signal(signal, SIG_DFL);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        raise(signal);
    }
    return status;
}
