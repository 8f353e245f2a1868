#include "app/program.h"

#include <cstdio>

#include "app/guardian.h"
#include "app/version.h"
#include "common/log.h"
#include "common/protocol_text.h"
#include "listing/app_listing.h"
#include "listing/session_listing.h"

namespace {

// The version on standard output, in the C runtime's text mode: on Windows the line ends in CR LF.
void writeVersion() {
    std::fputs(QUILLMERE_VERSION_TEXT "\n", stdout);
    std::fflush(stdout);
}

}  // namespace

int runProgram(int argc, const char* const* argv, const ProgramPlatform& platform) {
    LogLine() << kBuildLine;
    const CommandLine commandLine = parseCommandLine(argc, argv, platform.clocks);
    const ProcessIdentity guarded{commandLine.guardedPid, commandLine.guardedCreationTime};
    const bool listing = commandLine.mode == RunMode::ListSessions || commandLine.mode == RunMode::ListApps;
    if (listing && platform.prepareListing != nullptr) {
        platform.prepareListing();
    }
    switch (commandLine.mode) {
        case RunMode::ListSessions: listAudioSessions(); return 0;
        case RunMode::ListApps: listApps(); return 0;
        case RunMode::Version: writeVersion(); return 0;
        case RunMode::Guardian: return runGuardian(guarded);
        case RunMode::GuardianStarter:
            if (platform.startGuardianFor != nullptr) {
                return platform.startGuardianFor(guarded);
            }
            [[fallthrough]];
        case RunMode::Usage: LogLine() << platform.usageLine; return 1;
        case RunMode::Capture: break;
    }
    CapturePlatform& capture = platform.makeCapturePlatform(commandLine);
    auto* run = new CaptureRun(capture, commandLine.pid, commandLine.includeMode, commandLine.quality,
                               currentProcessIdentity(), {commandLine.status, commandLine.ducking});
    applyCaptureArguments(commandLine, run->state());
    g_activeRun.store(run);
    if (!platform.prepareRun()) {
        return 1;
    }
    return platform.finishRun(*run, run->run());
}
