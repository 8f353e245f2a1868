#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

inline constexpr float kDefaultDuckRatio = 0.2f;

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

// What the capture tells the status lines (--status) of the audio on its way: whether it heard a
// sample that is not zero since the status last looked, and the audio lost before it reached the
// host since the last line. The capture adds, the status takes.
struct CaptureHealth {
    std::atomic<bool> heard{false};
    std::atomic<std::uint64_t> lostMicroseconds{0};

    // Adds this many frames at this rate (above 0) to the audio lost, to the nearest microsecond.
    void addLostFrames(std::uint64_t frames, std::uint64_t rate) {
        lostMicroseconds.fetch_add((frames * 1000000 + rate / 2) / rate);
    }
};

// What the threads of one capture run share: the main thread's capture loop, the stdin reader,
// the ducking thread, the host watch and the stop paths (a console handler, a signal thread).
// Flags and the ratio are written by exchange (through the calls below), read by load. An
// exchange is a read-modify-write: it always acts on the latest value in the flag's modification
// order, and it is a full fence by itself (one locked XCHG on x86-64, whichever compiler builds
// the program, where the barrier of a store is each compiler's own choice); so each write is
// visible to every thread before the writer's next load, and the flags are seen cleared in the
// order they were written (the loop's before the workers'), with no lock taken.
struct RunState {
    explicit RunState(bool include) : includeMode(include) {}
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    std::atomic<bool> running{true};     // the ducking thread and the stdin reader go on
    std::atomic<bool> loopActive{true};  // the capture loop goes on
    std::atomic<float> duckRatio{kDefaultDuckRatio};
    const bool includeMode;  // the capture takes the target's tree (true) or all but it
    RunSignal signal;        // after every stop request and every new ratio
    CaptureHealth health;

    // Each of these changes the state, then wakes the waiting threads.
    // A stop of the whole capture (the host's stop command): the loop ends, then the workers.
    void requestCaptureStop() {
        loopActive.exchange(false);
        running.exchange(false);
        signal.notify();
    }
    // The workers' stop (the end of the capture, a console signal): the loop is left alone.
    void requestWorkersStop() {
        running.exchange(false);
        signal.notify();
    }
    // The capture loop's own end (a closed output, a failed call, the host gone).
    void endLoop() {
        loopActive.exchange(false);
        signal.notify();
    }
    void publishDuckRatio(float ratio) {
        duckRatio.exchange(ratio);
        signal.notify();
    }
};
