#include <windows.h>

#include "app/capture_platform_windows.h"
#include "app/capture_run.h"
#include "app/command_line.h"
#include "app/console_control_windows.h"
#include "app/guardian.h"
#include "common/log.h"
#include "common/process_identity.h"
#include "common/protocol_text.h"
#include "listing/app_listing.h"
#include "listing/session_listing.h"

int main(int argc, char** argv) {
    // Libraries loaded at run time come from System32, never from the program's own folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    LogLine() << kBuildLine;
    const CommandLine commandLine = parseCommandLine(argc, argv);
    switch (commandLine.mode) {
        case RunMode::ListSessions: listAudioSessions(); return 0;
        case RunMode::ListApps: listApps(); return 0;
        case RunMode::Guardian: return runGuardian({commandLine.guardedPid, commandLine.guardedCreationTime});
        case RunMode::GuardianStarter:
            return startGuardianFor({commandLine.guardedPid, commandLine.guardedCreationTime});
        case RunMode::Usage: LogLine() << kUsageLine; return 1;
        case RunMode::Capture: break;
    }
    // Never destroyed: the console handler may still be restoring through the run while the
    // process ends.
    auto* platform = new WindowsCapturePlatform(commandLine.clock);
    auto* run = new CaptureRun(*platform, commandLine.pid, commandLine.includeMode, commandLine.quality,
                               currentProcessIdentity());
    applyCaptureArguments(commandLine, run->state());
    g_activeRun.store(run);

    SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        LogLine() << kCoInitializeFailedPrefix << hr;
        return 1;
    }
    const int status = run->run();
    CoUninitialize();
    return status;
}
