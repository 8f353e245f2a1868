#include "app/console_control_windows.h"

#include "app/capture_run.h"
#include "common/log.h"
#include "common/protocol_text.h"

namespace {

bool isHandledSignal(DWORD ctrlType) {
    switch (ctrlType) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: return true;
        default: return false;
    }
}

}  // namespace

BOOL WINAPI consoleCtrlHandler(DWORD ctrlType) {
    if (!isHandledSignal(ctrlType)) {
        return FALSE;
    }
    LogLine() << kConsoleSignalPrefix << ctrlType;
    if (CaptureRun* run = g_activeRun.load()) {
        run->stopDuckingAndRestore();
    }
    // The system's own handler ends the process next, without what returning from main does.
    flushLog();
    return FALSE;
}
