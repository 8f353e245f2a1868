#include <windows.h>

#include "app/capture_platform_windows.h"
#include "app/console_control_windows.h"
#include "app/guardian.h"
#include "app/program.h"
#include "common/log.h"
#include "common/protocol_text.h"

namespace {

// The console handler, then the apartment the calling thread runs the capture in.
bool prepareRun() {
    SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        LogLine() << kCoInitializeFailedPrefix << hr;
        return false;
    }
    return true;
}

constexpr ProgramPlatform kWindowsProgram = {
    .clocks = ClockOptions::PacketsOrSteady,
    .usageLine = kUsageLine,
    .startGuardianFor = startGuardianFor,
    .makeCapturePlatform = [](const CommandLine& commandLine) -> CapturePlatform& {
        return *new WindowsCapturePlatform(commandLine.clock, commandLine.status);
    },
    .prepareRun = prepareRun,
    .finishRun =
        [](CaptureRun&, int status) {
            CoUninitialize();
            return status;
        },
    // A console signal ends a listing by the system's default.
    .prepareListing = nullptr,
};

}  // namespace

int main(int argc, char** argv) {
    // Libraries loaded at run time come from System32, never from the program's own folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return runProgram(argc, argv, kWindowsProgram);
}
