// The program on Linux: the same command line, stdin protocol, stream and exit statuses as on
// Windows, on the sound server through libpulse.

#include <pthread.h>
#include <signal.h>

#include <cstring>
#include <exception>
#include <thread>

#include "app/capture_platform_linux.h"
#include "app/program.h"
#include "app/stop_signals_linux.h"
#include "common/log.h"
#include "common/protocol_text.h"

namespace {

// SIGINT, SIGTERM and SIGHUP end the capture in order: they are taken by one thread that waits
// for them.
void startSignalThread() {
    std::thread([] {
        const sigset_t set = stopSignals();
        int signal = 0;
        if (sigwait(&set, &signal) == 0) {
            CaptureRun* run = g_activeRun.load();
            run->receivedSignal.exchange(signal);
            LogLine() << receivedSignalLine(sigabbrev_np(signal));
            run->state().requestCaptureStop();
        }
    }).detach();
}

bool prepareRun() {
    try {
        startSignalThread();
    } catch (const std::exception& error) {
        LogLine() << kSignalThreadNotStartedPrefix << error.what();
        return false;
    }
    return true;
}

int finishRun(CaptureRun& run, int status) {
    const int signal = run.receivedSignal.load();
    if (signal != 0) {
        // Ended by a signal, after the stream's end: the host sees that signal, as it would have
        // without the orderly end.
        endBySignal(signal);
    }
    return status;
}

// A listing holds nothing to put back: a stop signal ends it at once, by its default action.
void prepareListing() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

constexpr ProgramPlatform kLinuxProgram = {
    // The stream here always keeps steady time.
    .clocks = ClockOptions::SteadyOnly,
    .usageLine = kLinuxUsageLine,
    // The guardian's double fork needs no starter here.
    .startGuardianFor = nullptr,
    .makeCapturePlatform = [](const CommandLine&) -> CapturePlatform& { return *new LinuxCapturePlatform; },
    .prepareRun = prepareRun,
    .finishRun = finishRun,
    .prepareListing = prepareListing,
};

}  // namespace

int main(int argc, char** argv) {
    // A closed output is a failed write, not a fatal signal.
    ::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return runProgram(argc, argv, kLinuxProgram);
}
