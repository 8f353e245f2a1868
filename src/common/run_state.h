#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// Process-wide run state shared by the main thread, the console control handler, the stdin
// reader and the ducking thread. Flags and the ratio are written by exchange, read by load.
extern std::atomic<bool> g_captureRunning;     // run flag of the ducking thread and stdin reader
extern std::atomic<bool> g_captureLoopActive;  // condition of the capture loop
extern std::atomic<float> g_duckRatio;         // fraction other sessions are lowered to
extern std::atomic<bool> g_includeMode;        // capture includes (true) or excludes the target tree

constexpr float kDefaultDuckRatio = 0.2f;

// Wakes the threads that wait for the run to stop or the duck ratio to change, so that neither
// waits out a sleep. Whoever changes a flag or the ratio calls notify() afterwards; a waiter
// re-tests its own condition on every wake-up.
class RunSignal {
public:
    void notify() {
        // Taking the lock orders the change before a waiter's test of its condition, so a
        // notification can never fall between that test and the wait.
        { const std::lock_guard<std::mutex> lock(mutex_); }
        changed_.notify_all();
    }

    // Waits until `done` holds or the time has passed; returns `done`'s last answer.
    template <class Rep, class Period, class Condition>
    bool waitFor(std::chrono::duration<Rep, Period> timeout, Condition done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, done);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// Signalled after every stop request and every new duck ratio.
extern RunSignal g_runSignal;

// Each of these changes the state, then wakes the waiting threads.
// A stop of the whole capture (the host's stop command): the capture loop ends, then the workers.
void requestCaptureStop();
// The workers' stop (the end of the capture, a console signal): the loop is left alone.
void requestWorkersStop();
void publishDuckRatio(float ratio);
