#include <windows.h>

#include "app/command_line.h"
#include "app/console_control.h"
#include "app/log.h"
#include "app/run_state.h"
#include "capture/capture_session.h"

int main(int argc, char** argv) {
    LogLine() << kBuildLine;
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.mode != RunMode::Capture) {
        LogLine() << kUsageLine;
        return 1;
    }
    if (commandLine.duckRatio) {
        g_duckRatio.exchange(*commandLine.duckRatio);
    }
    if (commandLine.invalidDuckRatio) {
        LogLine() << "[win-helper] Ignoring invalid duck ratio argument: " << *commandLine.invalidDuckRatio;
    }

    SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        LogLine() << "CoInitializeEx failed: " << hr;
        return 1;
    }
    const int status = runCaptureSession(commandLine.pid, commandLine.includeMode);
    CoUninitialize();
    return status;
}
