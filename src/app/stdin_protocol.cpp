#include "app/stdin_protocol.h"

#include "app/command_line.h"
#include "app/log.h"
#include "app/run_state.h"

void executeStdinLine(const std::string& line) {
    if (line == "exit" || line == "quit" || line == "stop") {
        g_captureLoopActive.exchange(false);
        g_captureRunning.exchange(false);
        LogLine() << "[win-helper] Received exit command via stdin. Stopping capture gracefully...";
        return;
    }
    const float ratio = static_cast<float>(parseAtof(line.c_str()));
    if (ratio >= 0.0f && ratio <= 1.0f) {
        g_duckRatio.exchange(ratio);
        LogLine() << "[win-helper] Real-time duck ratio updated to " << ratio;
    } else {
        LogLine() << "[win-helper] Ignoring invalid duck ratio command: " << line;
    }
}

void runStdinReader(const std::function<std::size_t(char* buffer, std::size_t capacity)>& read) {
    StdinLineSplitter splitter;
    char buffer[kStdinReadSize];
    while (g_captureRunning.load()) {
        const std::size_t got = read(buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        splitter.feed(buffer, got, executeStdinLine);
    }
    splitter.finish(executeStdinLine);
    LogLine() << "[win-helper] Stdin duck ratio reader stopped.";
}
