#include "app/workers.h"

#include <exception>
#include <mutex>

#include "app/stdin_reader.h"
#include "common/log.h"
#include "common/run_state.h"
#include "ducking/ducking_engine.h"
#include "ducking/volume_restoration.h"

std::thread g_duckThread;

namespace {

// Guards the start and the join of g_duckThread and every restoration of the stop paths: a
// second stop path waits until the first has joined and restored, so neither restores while
// the thread still writes the ledger, and the main thread never leaves COM under a console
// handler's restoration. Never destroyed: a console handler may hold it while the process ends.
std::mutex& g_duckThreadMutex = *new std::mutex;
// Set by the main thread's last restoration; a console handler that comes later has nothing
// left to do (and the apartment it would need is going).
bool g_duckingEnded = false;

void stopAndRestore(bool forGood) {
    requestWorkersStop();
    const std::lock_guard<std::mutex> lock(g_duckThreadMutex);
    if (g_duckingEnded) {
        return;
    }
    if (g_duckThread.joinable()) {
        g_duckThread.join();
    }
    restoreSessionVolumes();
    g_duckingEnded = forGood;
}

}  // namespace

bool startStdinReader() {
    try {
        std::thread(stdinReaderMain).detach();
        return true;
    } catch (const std::exception& error) {
        LogLine() << "[win-helper] Failed to start the stdin reader thread: " << error.what();
        return false;
    }
}

bool startDuckingThread(std::uint32_t targetPid) {
    const std::lock_guard<std::mutex> lock(g_duckThreadMutex);
    try {
        g_duckThread = std::thread(duckingThreadMain, targetPid);
        return true;
    } catch (const std::exception& error) {
        LogLine() << "[win-helper] Failed to start the ducking thread: " << error.what();
        return false;
    }
}

void stopDuckingAndRestore() {
    stopAndRestore(false);
}

void endDucking() {
    stopAndRestore(true);
}
