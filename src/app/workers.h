#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "ducking/ducking_engine.h"

// Starts the stdin reader, detached: it is never joined. False, with a log line, if no thread
// could be made.
bool startStdinReader();

// The ducking thread of a run, and the one way it is stopped: both ways a capture ends (its own
// shutdown and a console signal) come here, and may come at the same moment.
class DuckingWorker {
public:
    explicit DuckingWorker(DuckingEngine& engine) : engine_(engine) {}
    DuckingWorker(const DuckingWorker&) = delete;
    DuckingWorker& operator=(const DuckingWorker&) = delete;

    // Runs the engine on a thread of its own, in COM's multithreaded apartment. False, with a
    // log line, if no thread could be made.
    bool start(std::uint32_t targetPid);
    // Clears g_captureRunning, joins the thread exactly once, however the stop paths overlap,
    // and puts the saved volumes back. Returns at once after end().
    void stopAndRestore();
    // The main thread's last restoration, before it leaves COM: waits for a console handler's
    // restoration under way, and leaves nothing for a later one to do.
    void end();
    bool threadRunning() const { return thread_.joinable(); }

private:
    void stop(bool forGood);

    DuckingEngine& engine_;
    // Guards the start and the join of the thread and every restoration of the stop paths: a
    // second stop path waits until the first has joined and restored, so neither restores while
    // the thread still writes the ledger, and the main thread never leaves COM under a console
    // handler's restoration.
    std::mutex mutex_;
    std::thread thread_;
    // Set by the main thread's last restoration; a console handler that comes later has nothing
    // left to do (and the apartment it would need is going).
    bool ended_ = false;
};

// The running capture's ducking worker, for the console handler; null when no capture runs. A
// worker, once published, is never destroyed: a handler may still be restoring while the
// process ends.
extern std::atomic<DuckingWorker*> g_duckingWorker;
