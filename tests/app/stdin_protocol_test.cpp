#include "app/stdin_protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/run_state.h"

namespace {

class StdinProtocol : public ::testing::Test {
protected:
    // A fresh run's state for each case.
    void SetUp() override { state_ = std::make_unique<RunState>(false); }

    // Runs the reader over these reads and returns what it logged.
    std::string run(std::vector<std::string> reads) {
        std::size_t next = 0;
        flushLog();
        ::testing::internal::CaptureStderr();
        runStdinReader(
            [&](char* buffer, std::size_t capacity) -> std::size_t {
                if (next == reads.size()) {
                    return 0;
                }
                const std::string& chunk = reads[next++];
                EXPECT_LE(chunk.size(), capacity);
                chunk.copy(buffer, chunk.size());
                return chunk.size();
            },
            *state_);
        flushLog();
        return ::testing::internal::GetCapturedStderr();
    }

    std::unique_ptr<RunState> state_;
};

constexpr char kStop[] = "[win-helper] Received exit command via stdin. Stopping capture gracefully...\n";
constexpr char kClosed[] = "[win-helper] Stdin duck ratio reader stopped.\n";

TEST_F(StdinProtocol, StopWordsEndTheCaptureAndTheReader) {
    for (const char* word : {"exit\n", "quit\n", "stop\n", "exit\r\n"}) {
        SetUp();
        EXPECT_EQ(run({word, "0.5\n"}), std::string(kStop) + kClosed) << word;
        EXPECT_FALSE(state_->loopActive.load()) << word;
        EXPECT_FALSE(state_->running.load()) << word;
        EXPECT_EQ(state_->duckRatio.load(), 0.2f) << "the second read is never made";
    }
}

TEST_F(StdinProtocol, StopAsTheLastUnterminatedBytesStillStops) {
    EXPECT_EQ(run({"0.4\nst", "op"}),
              "[win-helper] Real-time duck ratio updated to 0.4\n" + std::string(kStop) + kClosed);
    EXPECT_FALSE(state_->running.load());
}

TEST_F(StdinProtocol, LinesAfterAStopInTheSameReadStillRun) {
    EXPECT_EQ(run({"stop\n0.3\n", "0.9\n"}),
              std::string(kStop) + "[win-helper] Real-time duck ratio updated to 0.3\n" + kClosed);
    EXPECT_EQ(state_->duckRatio.load(), 0.3f);
}

TEST_F(StdinProtocol, RatioLinesAreAcceptedWithinZeroToOneAndLoggedInShortForm) {
    struct Case {
        const char* input;
        const char* logged;
        float ratio;
    };
    const Case cases[] = {
        {"0.35\n", "[win-helper] Real-time duck ratio updated to 0.35\n", 0.35f},
        {"1\n", "[win-helper] Real-time duck ratio updated to 1\n", 1.0f},
        {"0.1234567\n", "[win-helper] Real-time duck ratio updated to 0.123457\n", 0.1234567f},
        {"0.00005\n", "[win-helper] Real-time duck ratio updated to 5e-05\n", 0.00005f},
        {"0.5abc\n", "[win-helper] Real-time duck ratio updated to 0.5\n", 0.5f},
        {" .3\n", "[win-helper] Real-time duck ratio updated to 0.3\n", 0.3f},
        {"1e-1\n", "[win-helper] Real-time duck ratio updated to 0.1\n", 0.1f},
        {"-0\n", "[win-helper] Real-time duck ratio updated to -0\n", -0.0f},
        {"EXIT\n", "[win-helper] Ignoring invalid duck ratio command: EXIT\n", 0.2f},
        {" exit\n", "[win-helper] Ignoring invalid duck ratio command:  exit\n", 0.2f},
        {"exit \n", "[win-helper] Ignoring invalid duck ratio command: exit \n", 0.2f},
        {"Stop\n", "[win-helper] Ignoring invalid duck ratio command: Stop\n", 0.2f},
        {"pause\n", "[win-helper] Ignoring invalid duck ratio command: pause\n", 0.2f},
        {"[win-helper] build\n", "[win-helper] Ignoring invalid duck ratio command: [win-helper] build\n", 0.2f},
        {" \n", "[win-helper] Ignoring invalid duck ratio command:  \n", 0.2f},
        {".\n", "[win-helper] Ignoring invalid duck ratio command: .\n", 0.2f},
        {"1.5\n", "[win-helper] Ignoring invalid duck ratio command: 1.5\n", 0.2f},
        {"-0.1\n", "[win-helper] Ignoring invalid duck ratio command: -0.1\n", 0.2f},
        {"nan\n", "[win-helper] Ignoring invalid duck ratio command: nan\n", 0.2f},
        {"1e999\n", "[win-helper] Ignoring invalid duck ratio command: 1e999\n", 0.2f},
    };
    for (const auto& c : cases) {
        SetUp();
        EXPECT_EQ(run({c.input}), std::string(c.logged) + kClosed) << c.input;
        EXPECT_EQ(state_->duckRatio.load(), c.ratio) << c.input;
        EXPECT_TRUE(state_->running.load()) << "end of input is no stop";
        EXPECT_TRUE(state_->loopActive.load());
    }
}

TEST_F(StdinProtocol, LinesAreCutAtLineEndsAcrossReadsAndKeepSixtyFourBytes) {
    const std::string longLine(100, '7');
    EXPECT_EQ(run({"2" + longLine.substr(0, 50), longLine.substr(50) + "\n"}),
              "[win-helper] Ignoring invalid duck ratio command: 2" + longLine.substr(0, 63) + "\n" + kClosed);

    SetUp();
    EXPECT_EQ(run({"0.", "4", "\r\n\n\r", "0.6"}), std::string("[win-helper] Real-time duck ratio updated to 0.4\n") +
                                                       "[win-helper] Real-time duck ratio updated to 0.6\n" + kClosed);

    SetUp();
    EXPECT_EQ(run({"\n\r\n"}), kClosed) << "empty lines are skipped";
}

TEST_F(StdinProtocol, ReaderStopsAtItsNextTestOnceTheRunFlagIsCleared) {
    state_->running.store(false);
    EXPECT_EQ(run({"0.5\n"}), kClosed);
    EXPECT_EQ(state_->duckRatio.load(), 0.2f);
}

}  // namespace
