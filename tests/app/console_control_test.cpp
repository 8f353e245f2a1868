// The two stop paths in-process: the console control handler and the end of the capture both
// stop the ducking thread, and they may run at the same moment.

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "common/log.h"
#include "app/capture_platform_windows.h"
#include "app/capture_run.h"
#include "app/console_control_windows.h"
#include "common/process_identity.h"
#include "support/audio_engine_double.h"

namespace {

// The double loads into this process once and keeps its script and record file for good, so
// the whole suite shares one script.
class DuckingControl : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        engine_ = new AudioEngineDouble("session speakers pid=3999996 id=a volume=0.8\n");
        // As in the program: the run outlives every handler.
        run_ =
            new CaptureRun(*new WindowsCapturePlatform, 1234, false, ResampleQuality::Linear, currentProcessIdentity());
        g_activeRun.store(run_);
    }
    static void TearDownTestSuite() {
        g_activeRun.store(nullptr);
        delete engine_;
        engine_ = nullptr;
    }

    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        run_->state().running.store(true);
    }
    void TearDown() override { CoUninitialize(); }

    static AudioEngineDouble* engine_;
    static CaptureRun* run_;
};

AudioEngineDouble* DuckingControl::engine_ = nullptr;
CaptureRun* DuckingControl::run_ = nullptr;

TEST_F(DuckingControl, SignalsWithoutAnEventAreDeclinedUntouched) {
    for (DWORD value : {3u, 4u, 7u, 100u}) {
        flushLog();
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(consoleCtrlHandler(value)) << value;
        flushLog();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << value;
        EXPECT_TRUE(run_->state().running.load()) << value;
    }
}

TEST_F(DuckingControl, EverySignalStopsRestoresAndDeclines) {
    for (DWORD value : {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
        run_->state().running.store(true);
        flushLog();
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(consoleCtrlHandler(value)) << value;
        flushLog();
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(log, "[win-helper] Received console control signal: " + std::to_string(value) +
                           "\n[win-helper] Restoring audio session volumes...\n")
            << value;
        EXPECT_FALSE(run_->state().running.load()) << value;
    }
}

TEST_F(DuckingControl, BothStopPathsAtOnceEndJoinedAndRestored) {
    for (int round = 0; round < 20; ++round) {
        run_->state().running.store(true);
        flushLog();
        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(run_->startDucking());
        Sleep(static_cast<DWORD>(round % 4) * 5);
        std::thread signal([] { consoleCtrlHandler(CTRL_C_EVENT); });
        run_->stopDuckingAndRestore();
        signal.join();
        flushLog();
        ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(run_->duckingThreadRunning()) << round;
        EXPECT_FALSE(run_->state().running.load()) << round;
    }
    // Whatever the interleaving, the session ends at its own volume.
    const auto sets = engine_->recorded("set_volume a");
    ASSERT_FALSE(sets.empty());
    EXPECT_EQ(sets.back(), "set_volume a 0.8");
}

}  // namespace
