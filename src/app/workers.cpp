#include "app/workers.h"

#include <windows.h>

#include <exception>

#include "app/stdin_reader.h"
#include "common/log.h"
#include "common/run_state.h"

std::atomic<DuckingWorker*> g_duckingWorker{nullptr};

bool startStdinReader() {
    try {
        std::thread(stdinReaderMain).detach();
        return true;
    } catch (const std::exception& error) {
        LogLine() << "[win-helper] Failed to start the stdin reader thread: " << error.what();
        return false;
    }
}

bool DuckingWorker::start(std::uint32_t targetPid) {
    const std::lock_guard<std::mutex> lock(mutex_);
    try {
        thread_ = std::thread([this, targetPid] {
            if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
                return;
            }
            engine_.run(targetPid);
            CoUninitialize();
        });
        return true;
    } catch (const std::exception& error) {
        LogLine() << "[win-helper] Failed to start the ducking thread: " << error.what();
        return false;
    }
}

void DuckingWorker::stop(bool forGood) {
    requestWorkersStop();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) {
        return;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    engine_.restore();
    ended_ = forGood;
}

void DuckingWorker::stopAndRestore() {
    stop(false);
}

void DuckingWorker::end() {
    stop(true);
}
