// The host's commands on stdin: stop words, ratio lines, long lines, and end of input.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/expected_lines.h"
#include "support/host_process.h"

namespace {

// The lines after the stop command's line. The detached reader may still write its closing
// line before the process ends, or not: nothing waits for it.
Lines afterStop(const Lines& lines) {
    auto stop = std::find(lines.begin(), lines.end(), kStopLine);
    if (stop == lines.end()) {
        return {"(no stop line)"};
    }
    Lines after(stop + 1, lines.end());
    after.erase(std::remove(after.begin(), after.end(), kReaderStopped), after.end());
    return after;
}

TEST(StdinEndToEnd, StopWordsEndTheCaptureWithExitZero) {
    for (const char* input : {"exit\n", "quit\r\n", "stop", "0.5\nstop\n"}) {
        AudioEngineDouble engine("");
        HostProcess host({{"1234"}});
        ASSERT_TRUE(host.waitForLog(kFloat48k)) << input;
        host.write(input);
        if (std::strchr(input, '\n') == nullptr) {
            host.closeInput();  // a stop as the last, unterminated bytes
        }
        EXPECT_EQ(host.waitForExit(), 0u) << input;
        EXPECT_EQ(afterStop(host.logLines()), Lines{kRestoring}) << input;
        EXPECT_EQ(engine.recorded("stop").size(), 1u) << input;
    }
}

TEST(StdinEndToEnd, RatioLinesAreAcceptedOrRefusedAndLongLinesAreCut) {
    AudioEngineDouble engine("");
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kFloat48k));
    const std::string longLine = "0." + std::string(98, '5');
    host.write("0.5\n1.5\n-0.1\n" + longLine + "\nEXIT\n");
    ASSERT_TRUE(host.waitForLog("command: EXIT\r\n"));
    host.write("exit\n");
    EXPECT_EQ(host.waitForExit(), 0u);
    const Lines lines = host.logLines();
    const auto first = std::find(lines.begin(), lines.end(), kFloat48k) + 1;
    ASSERT_GE(lines.end() - first, 6);
    EXPECT_EQ(Lines(first, first + 6), (Lines{"[win-helper] Real-time duck ratio updated to 0.5",
                                              "[win-helper] Ignoring invalid duck ratio command: 1.5",
                                              "[win-helper] Ignoring invalid duck ratio command: -0.1",
                                              "[win-helper] Real-time duck ratio updated to 0.555556",
                                              "[win-helper] Ignoring invalid duck ratio command: EXIT", kStopLine}));
    EXPECT_EQ(afterStop(lines), Lines{kRestoring});
}

TEST(StdinEndToEnd, EndOfInputIsNoStop) {
    AudioEngineDouble engine("");
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kFloat48k));
    host.closeInput();
    ASSERT_TRUE(host.waitForLog(kReaderStopped));
    Sleep(200);
    EXPECT_TRUE(engine.recorded("stop").empty()) << "the capture goes on";
}

}  // namespace
