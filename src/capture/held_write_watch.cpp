#include "capture/held_write_watch.h"

#include <system_error>
#include <utility>

namespace {

constexpr std::chrono::milliseconds kWatchInterval{20};

long long steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

HeldWriteWatch::HeldWriteWatch(RunState& state, std::function<void()> interrupt)
    : state_(state), interrupt_(std::move(interrupt)) {
    try {
        thread_ = std::thread([this] { watch(); });
    } catch (const std::system_error&) {
    }
}

HeldWriteWatch::~HeldWriteWatch() {
    ended_.exchange(true);
    state_.signal.notify();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void HeldWriteWatch::writeBegins() {
    // Never 0, which means no write.
    writeBegan_.exchange(steadyMs() | 1);
}

void HeldWriteWatch::writeEnds() {
    writeBegan_.exchange(0);
}

void HeldWriteWatch::watch() {
    const auto stoppedOrEnded = [this] { return stopping() || ended_.load(); };
    while (!state_.signal.waitFor(std::chrono::hours(1), stoppedOrEnded)) {
    }
    const auto ended = [this] { return ended_.load(); };
    while (!state_.signal.waitFor(kWatchInterval, ended)) {
        const long long began = writeBegan_.load();
        if (began != 0 && steadyMs() - began > kStoppedWriteGrace.count()) {
            interrupt_();
        }
    }
}
