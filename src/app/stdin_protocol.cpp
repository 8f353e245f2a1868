#include "app/stdin_protocol.h"

#include "app/command_line.h"
#include "common/log.h"
#include "common/protocol_text.h"
#include "common/run_state.h"

void executeStdinLine(const std::string& line, RunState& state) {
    // Each line is logged before it takes effect, so the host reads it before any line of
    // the shutdown or of the ducking that it causes.
    if (line == "exit" || line == "quit" || line == "stop") {
        LogLine() << kStdinExitLine;
        state.requestCaptureStop();
        return;
    }
    // A line without a numeric prefix (a misspelt stop word, a stray log line) is refused
    // rather than read as 0, which would silence every other application.
    const std::optional<double> value = parseNumericPrefix(line.c_str());
    const float ratio = static_cast<float>(value.value_or(-1.0));
    if (value && ratio >= 0.0f && ratio <= 1.0f) {
        LogLine() << kRatioUpdatedPrefix << ratio;
        state.publishDuckRatio(ratio);
    } else {
        LogLine() << kRatioCommandRefusedPrefix << line;
    }
}

void runStdinReader(const std::function<std::size_t(char* buffer, std::size_t capacity)>& read, RunState& state) {
    StdinLineSplitter splitter;
    char buffer[kStdinReadSize];
    const auto execute = [&state](const std::string& line) { executeStdinLine(line, state); };
    while (state.running.load()) {
        const std::size_t got = read(buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        splitter.feed(buffer, got, execute);
    }
    splitter.finish(execute);
    LogLine() << kStdinReaderStoppedLine;
}
