#include "app/capture_run.h"

#include <exception>

#include "common/log.h"
#include "common/protocol_text.h"

std::atomic<CaptureRun*> g_activeRun{nullptr};

CaptureRun::CaptureRun(CapturePlatform& platform, std::uint32_t pid, bool includeMode, ResampleQuality quality,
                       const ProcessIdentity& self)
    : platform_(platform), pid_(pid), quality_(quality), state_(includeMode), engine_(platform.sessions(), self) {}

int CaptureRun::run() {
    int status = 1;
    if (platform_.open(pid_, state_.includeMode)) {
        // The guardian before the ducking thread, so that it watches before anything is lowered.
        // Without one (it says why) the journal still serves the next start: the capture goes on.
        bool workersStarted = false;
        try {
            std::thread([this] { platform_.readCommands(state_); }).detach();
            workersStarted = true;
        } catch (const std::exception& error) {
            LogLine() << kStdinReaderNotStartedPrefix << error.what();
        }
        if (workersStarted) {
            platform_.startGuardian();
            workersStarted = startDucking();
        }
        if (workersStarted) {
            platform_.startHostWatch(state_);
            LogLine() << kCaptureStartedLine;
            LogLine() << kTargetPidLinePrefix << pid_;
            LogLine() << formatLineText(platform_.reportedFormat());
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
        ducking_ = std::thread([this] { platform_.runDuckingThread([this] { engine_.run(pid_, state_); }); });
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
