#include "app/capture_run.h"

#include <exception>
#include <utility>

#include "app/guardian.h"
#include "app/host_watch.h"
#include "common/log.h"
#include "common/protocol_text.h"

std::atomic<CaptureRun*> g_activeRun{nullptr};

std::thread startWorkerThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

CaptureRun::CaptureRun(CapturePlatform& platform, std::uint32_t pid, bool includeMode, ResampleQuality quality,
                       const ProcessIdentity& self, RunRequests requests, ThreadStarter startThread)
    : platform_(platform),
      startThread_(std::move(startThread)),
      pid_(pid),
      quality_(quality),
      state_(includeMode),
      engine_(platform.sessions(), self, std::move(requests.ducking)) {
    if (requests.status) {
        status_.emplace(pid, includeMode, self.pid, platform.silenceBasis(), state_.health);
    }
}

int CaptureRun::run() {
    int status = 1;
    if (platform_.open(pid_, state_.includeMode)) {
        // The guardian before the ducking thread, so that it watches before anything is lowered.
        // Without one (it says why) the journal still serves the next start: the capture goes on.
        bool workersStarted = false;
        try {
            startThread_([this] { platform_.readCommands(state_); }).detach();
            workersStarted = true;
        } catch (const std::exception& error) {
            LogLine() << kStdinReaderNotStartedPrefix << error.what();
        }
        if (workersStarted) {
            startGuardian();
            workersStarted = startDucking();
        }
        if (workersStarted) {
            startHostWatch(state_);
            LogLine() << kCaptureStartedLine;
            LogLine() << kTargetPidLinePrefix << pid_;
            LogLine() << formatLineText(platform_.reportedFormat());
            if (status_) {
                status_->announceStart();
            }
            PcmDownconverter converter(platform_.deliveredFormat(), quality_);
            platform_.capture(state_, converter);
            status = 0;
        }
        stopDucking(true);
    }
    platform_.close();
    return status;
}

bool CaptureRun::startDucking() {
    const std::lock_guard<std::mutex> lock(duckingMutex_);
    try {
        ducking_ = startThread_([this] {
            platform_.runDuckingThread([this] { engine_.run(pid_, state_, status_ ? &*status_ : nullptr); });
        });
        return true;
    } catch (const std::exception& error) {
        LogLine() << kDuckingThreadNotStartedPrefix << error.what();
        return false;
    }
}

void CaptureRun::stopDucking(bool forGood) {
    state_.requestWorkersStop();
    const std::lock_guard<std::mutex> lock(duckingMutex_);
    if (duckingEnded_) {
        return;
    }
    if (ducking_.joinable()) {
        ducking_.join();
    }
    engine_.restore();
    duckingEnded_ = forGood;
}

void CaptureRun::stopDuckingAndRestore() {
    stopDucking(false);
}
