#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "app/capture_status.h"
#include "capture/capture_format.h"
#include "capture/pcm_downconverter.h"
#include "capture/sample_sink.h"
#include "common/process_identity.h"
#include "common/run_state.h"
#include "ducking/ducking_engine.h"
#include "ducking/session_volumes.h"

// What a capture run holds of its platform: the capture itself, and the platform's part of the
// workers. One implementation per platform (capture_platform_windows.cpp, capture_platform_linux.cpp).
// The process-wide services the run starts beside it, the guardian and the host watch, are link
// seams (guardian.h, host_watch.h).
class CapturePlatform {
public:
    virtual ~CapturePlatform() = default;

    // Readies the capture of the target's tree (include) or of all but it: false, having said
    // why, when it cannot. The platform may start capturing here already.
    virtual bool open(std::uint32_t pid, bool includeMode) = 0;
    // After open: the format the start lines name (formatLineText), and the one the samples
    // arrive in.
    virtual FormatSummary reportedFormat() const = 0;
    virtual FormatSummary deliveredFormat() const = 0;
    // Captures through the converter into standard output while state.loopActive holds; ends
    // the loop itself (with a line) when the output closes or a capture call fails.
    virtual void capture(RunState& state, PcmDownconverter& converter) = 0;
    // Stops and releases the capture; called once, whether open succeeded or not.
    virtual void close() = 0;

    // The stdin reader thread's body: the host's commands into the state, until it ends.
    virtual void readCommands(RunState& state) = 0;
    // Runs the ducking thread's body inside whatever the platform's audio API needs around it.
    virtual void runDuckingThread(const std::function<void()>& body) { body(); }
    // The default device's sessions, for the ducking engine.
    virtual SessionVolumes& sessions() = 0;
    // How the status lines tell a silent capture here.
    virtual SilenceBasis silenceBasis() const = 0;
};

// What the host asks of a run beside the capture: the status lines, and what is lowered.
struct RunRequests {
    bool status = false;
    DuckingChoice ducking;
};

// Makes one of the run's worker threads (the stdin reader, the ducking thread), or throws
// (std::system_error) when none can be made. The tests give their own.
using ThreadStarter = std::function<std::thread(std::function<void()> body)>;
std::thread startWorkerThread(std::function<void()> body);

// One capture from start to end, the same on every platform:
//   open the capture (1 when it cannot) → the stdin reader, the guardian, the ducking thread →
//   the host watch → the start lines (and, with the status lines, a target not found) → the capture loop → stop and
//   join the ducking thread, restore the volumes → close the capture → 0 (1 when a worker could not be started).
// The run's state lives here; the object is made once by the program's run (program.h) and never
// destroyed, because a console handler or a signal thread may still be stopping it while the
// process ends.
class CaptureRun;
// The run of this process, for the stop paths that come from outside it (the Windows console
// handler, the Linux signal thread); null until the program's run has made it. Set once there:
// the one piece of state a console handler can reach, since the system calls it with nothing of
// ours.
extern std::atomic<CaptureRun*> g_activeRun;

class CaptureRun {
public:
    CaptureRun(CapturePlatform& platform, std::uint32_t pid, bool includeMode, ResampleQuality quality,
               const ProcessIdentity& self, RunRequests requests = {}, ThreadStarter startThread = startWorkerThread);
    CaptureRun(const CaptureRun&) = delete;
    CaptureRun& operator=(const CaptureRun&) = delete;

    int run();

    RunState& state() { return state_; }
    // Either stop path's end of the ducking: clears the workers' flag, joins the ducking thread
    // exactly once, however the stop paths overlap, and puts the saved volumes back. Nothing
    // once the run has ended.
    void stopDuckingAndRestore();
    bool duckingThreadRunning() const { return ducking_.joinable(); }
    // The signal that stopped the run from outside (Linux), 0 when none did.
    std::atomic<int> receivedSignal{0};

    // Runs the ducking thread. False, with a line, when no thread could be made.
    bool startDucking();

private:
    void stopDucking(bool forGood);

    CapturePlatform& platform_;
    const ThreadStarter startThread_;
    const std::uint32_t pid_;
    const ResampleQuality quality_;
    RunState state_;
    DuckingEngine engine_;
    // With --status only.
    std::optional<CaptureStatus> status_;
    // Guards the start and the join of the ducking thread and every restoration of the stop
    // paths: a second stop path waits until the first has joined and restored, so neither
    // restores while the thread still writes the ledger, and the main thread never leaves the
    // platform's audio API under a console handler's restoration.
    std::mutex duckingMutex_;
    std::thread ducking_;
    // Set by the main thread's last restoration; a stop path that comes later has nothing left
    // to do (and the apartment it would need is going).
    bool duckingEnded_ = false;
};
