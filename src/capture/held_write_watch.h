#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "common/run_state.h"

// How long a write may wait for the host to read once the capture has been told to stop.
inline constexpr std::chrono::milliseconds kStoppedWriteGrace{100};

// A watch over the capture thread's writes to standard output: from the loop's stop on, a write
// that has waited for the host longer than kStoppedWriteGrace is cut short with `interrupt`
// (called on the watch's thread, again every 20 ms while that write still waits), so that the
// stop goes on while the host does not read. Made and destroyed by the capture thread; without a
// thread of its own (none could be made), writes wait for the host as they must.
class HeldWriteWatch {
public:
    HeldWriteWatch(RunState& state, std::function<void()> interrupt);
    ~HeldWriteWatch();
    HeldWriteWatch(const HeldWriteWatch&) = delete;
    HeldWriteWatch& operator=(const HeldWriteWatch&) = delete;

    void writeBegins();
    void writeEnds();
    // Whether the loop has been told to stop: an interrupted write then gives up its bytes.
    bool stopping() const { return !state_.loopActive.load(); }

private:
    void watch();

    RunState& state_;
    const std::function<void()> interrupt_;
    // When the write under way began, in steady-clock milliseconds; 0 between writes.
    std::atomic<long long> writeBegan_{0};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};
