// The program on Linux: the same command line, stdin protocol, stream and exit statuses as on
// Windows, on the sound server through libpulse.

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstring>
#include <exception>
#include <thread>

#include "app/command_line.h"
#include "app/linux_capture_run.h"
#include "app/linux_guardian.h"
#include "common/log.h"
#include "common/protocol_text.h"
#include "common/run_state.h"
#include "listing/pulse_session_listing.h"
#include "listing/x11_app_listing.h"

namespace {

inline constexpr char kLinuxUsageLine[] =
    "Usage: quillmere <pid> [duck_ratio] [include/exclude] (or quillmere --list-sessions)";

// SIGINT, SIGTERM and SIGHUP end the capture in order: they are blocked in every thread and
// taken by one that waits for them, which records the signal here.
std::atomic<int> g_receivedSignal{0};

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
            g_receivedSignal.exchange(signal);
            LogLine() << "[win-helper] Received signal: SIG" << sigabbrev_np(signal);
            requestCaptureStop();
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
        case RunMode::ListSessions: listPulseSessions(); return 0;
        case RunMode::Guardian: return runLinuxGuardian({commandLine.guardedPid, commandLine.guardedCreationTime});
        case RunMode::ListApps: listX11Apps(); return 0;
        case RunMode::Usage: LogLine() << kLinuxUsageLine; return 1;
    }
    applyCaptureArguments(commandLine);
    try {
        startSignalThread();
    } catch (const std::exception& error) {
        LogLine() << "[win-helper] Failed to start the signal thread: " << error.what();
        return 1;
    }
    const int status = runLinuxCapture(commandLine.pid, commandLine.includeMode, commandLine.quality);
    const int signal = g_receivedSignal.load();
    if (signal != 0) {
        // Ended by a signal, after the stream's end: the host sees that signal, as it would have
        // without the orderly end.
        ::signal(signal, SIG_DFL);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        raise(signal);
    }
    return status;
}
