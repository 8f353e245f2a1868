#include "app/stdin_protocol.h"

#include "app/command_line.h"
#include "common/log.h"
#include "common/run_state.h"

void executeStdinLine(const std::string& line) {
    // Each line is logged before it takes effect, so the host reads it before any line of
    // the shutdown or of the ducking that it causes.
    if (line == "exit" || line == "quit" || line == "stop") {
        LogLine() << "[win-helper] Received exit command via stdin. Stopping capture gracefully...";
        requestCaptureStop();
        return;
    }
    // A line without a numeric prefix (a misspelt stop word, a stray log line) is refused
    // rather than read as 0, which would silence every other application.
    const std::optional<double> value = parseNumericPrefix(line.c_str());
    const float ratio = static_cast<float>(value.value_or(-1.0));
    if (value && ratio >= 0.0f && ratio <= 1.0f) {
        LogLine() << "[win-helper] Real-time duck ratio updated to " << ratio;
        publishDuckRatio(ratio);
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
