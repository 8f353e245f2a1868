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

// Guards the start and the join of g_duckThread: a second stop path waits until the first has
// joined, so neither restores while the thread still writes the saved volumes.
std::mutex g_duckThreadMutex;

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
    requestWorkersStop();
    {
        const std::lock_guard<std::mutex> lock(g_duckThreadMutex);
        if (g_duckThread.joinable()) {
            g_duckThread.join();
        }
    }
    restoreSessionVolumes();
}
