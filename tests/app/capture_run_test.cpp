// The capture run over a fake platform (fake_seams.h), whose calls stand in the log beside the
// run's own lines: what it starts and writes in which order, its exit status, and its two stop
// paths at once.

#include "app/capture_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "doubles/seams/fake_seams.h"
#include "support/logged_lines.h"

namespace {

Lines concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Lines kStarted = {"fake: open 1234 exclude",
                        "fake: reader",
                        "fake: guardian",
                        "fake: ducking thread",
                        "fake: host watch",
                        "[win-helper] Windows WASAPI process-excluded loopback capture started.",
                        "[win-helper] Excluding PID: 1234",
                        "[win-helper] Format: 48000Hz, 2 channels, 32 bits, float",
                        "fake: capture"};
const std::string kRestoring = "[win-helper] Restoring audio session volumes...";

// The console handler's part, on a thread of its own as the system runs it.
void consoleStop() {
    g_activeRun.load()->stopDuckingAndRestore();
}

TEST(CaptureRunTest, StartsInOrderEndsWithItsStatusAndRestoresOneStopPathAtATime) {
    using Loop = std::function<void(RunState & state, std::thread & console)>;
    struct Case {
        const char* name;
        bool opens;
        int failingStart;  // the worker start that throws: 1 the stdin reader, 2 the ducking thread
        Loop loop;         // the capture loop; `console`: a console stop it leaves running
        int status;
        std::vector<Lines> outcomes;  // the log is one of these
        int rounds;
    };
    const Loop ends = [](RunState& state, std::thread&) { state.endLoop(); };
    const Lines end = {"fake: ducking thread ends", kRestoring, "fake: close"};
    const Lines bothRestore = {"fake: ducking thread ends", kRestoring, kRestoring, "fake: close"};
    const Case cases[] = {
        {"the workers, the start lines, the loop; restored at the end", true, 0, ends, 0, {concat({kStarted, end})}, 1},
        {"an open that fails: closed, nothing started",
         false,
         0,
         ends,
         1,
         {{"fake: open 1234 exclude", "fake: close"}},
         1},
        {"no stdin reader: no capture, still restored",
         true,
         1,
         ends,
         1,
         {{"fake: open 1234 exclude", "[win-helper] Failed to start the stdin reader thread: no thread left",
           kRestoring, "fake: close"}},
         1},
        {"no ducking thread: no capture, still restored",
         true,
         2,
         ends,
         1,
         {{"fake: open 1234 exclude", "fake: reader", "fake: guardian",
           "[win-helper] Failed to start the ducking thread: no thread left", kRestoring, "fake: close"}},
         1},
        {"a console stop during the capture joins and restores; the end restores again",
         true,
         0,
         [](RunState& state, std::thread&) {
             std::thread(consoleStop).join();
             state.endLoop();
         },
         0,
         {concat({kStarted, bothRestore})},
         1},
        {"a console stop racing the end: one join, one restoration at a time, whichever comes first",
         true,
         0,
         [](RunState& state, std::thread& console) {
             console = std::thread(consoleStop);
             state.endLoop();
         },
         0,
         {concat({kStarted, end}), concat({kStarted, bothRestore})},
         20},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < c.rounds; ++round) {
            resetFakeSeams();
            FakeCapturePlatform platform;
            platform.opens = c.opens;
            // Long enough for two restorations without their lock to meet.
            platform.volumes.walkTime = std::chrono::milliseconds(2);
            std::thread console;
            platform.loop = [&](RunState& state) { c.loop(state, console); };
            int starts = 0;
            // Each worker as the program starts it, once it has written its first line, so that
            // the log keeps the start order.
            CaptureRun run(platform, 1234, false, ResampleQuality::Linear, fakeJournalWorld().self, {},
                           [&](std::function<void()> body) {
                               if (++starts == c.failingStart) {
                                   throw std::runtime_error("no thread left");
                               }
                               std::thread worker(std::move(body));
                               platform.awaitWorkers(starts);
                               return worker;
                           });
            g_activeRun.store(&run);
            int status = -1;
            const Lines lines = logged([&] {
                status = run.run();
                if (console.joinable()) {
                    console.join();
                }
            });
            g_activeRun.store(nullptr);
            EXPECT_EQ(status, c.status) << c.name;
            EXPECT_NE(std::find(c.outcomes.begin(), c.outcomes.end(), lines), c.outcomes.end())
                << c.name << ", round " << round << ":\n"
                << ::testing::PrintToString(lines);
            EXPECT_FALSE(run.duckingThreadRunning()) << c.name;
            EXPECT_FALSE(platform.volumes.walksOverlapped.load()) << c.name;
        }
    }
}

}  // namespace
