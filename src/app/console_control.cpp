#include "app/console_control.h"

#include "common/log.h"
#include "app/workers.h"
#include "common/run_state.h"

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
    LogLine() << "[win-helper] Received console control signal: " << ctrlType;
    if (DuckingWorker* worker = g_duckingWorker.load()) {
        worker->stopAndRestore();
    } else {
        requestWorkersStop();
    }
    return FALSE;
}
