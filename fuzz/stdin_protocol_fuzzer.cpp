// The stdin line protocol over arbitrary bytes cut into arbitrary reads. The first byte of the
// input picks the read sizes. (Run with -close_fd_mask=2: the protocol logs every line.)
// Properties: only ratios within 0..1 are ever stored; a stop clears both flags; a line that is
// no stop word and has no numeric prefix (as strtod sees it) changes nothing.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/stdin_protocol.h"
#include "common/run_state.h"

namespace {

bool hasNumericPrefix(const std::string& line) {
    char* end = nullptr;
    std::strtod(line.c_str(), &end);
    return end != line.c_str();
}

bool isStopWord(const std::string& line) {
    return line == "exit" || line == "quit" || line == "stop";
}

void checkedLine(const std::string& line, RunState& state) {
    const float before = state.duckRatio.load();
    const bool running = state.running.load();
    executeStdinLine(line, state);
    const float after = state.duckRatio.load();
    if (!(after >= 0.0f && after <= 1.0f)) {
        std::abort();  // only ratios within 0..1 are ever stored
    }
    if (state.running.load() != state.loopActive.load()) {
        std::abort();  // a stop clears both flags together
    }
    if (!isStopWord(line) && !hasNumericPrefix(line) && (after != before || state.running.load() != running)) {
        std::abort();  // a refused line changes nothing
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    RunState lines(false);
    const auto checked = [&lines](const std::string& line) { checkedLine(line, lines); };
    const std::size_t chunk = 1 + data[0] % kStdinReadSize;
    StdinLineSplitter splitter;
    for (std::size_t offset = 1; offset < size; offset += chunk) {
        const std::size_t count = std::min(chunk, size - offset);
        splitter.feed(reinterpret_cast<const char*>(data + offset), count, checked);
    }
    splitter.finish(checked);

    // The reader itself over the same reads: it ends at end of input, or at a stop.
    RunState state(false);
    std::size_t offset = 1;
    runStdinReader(
        [&](char* buffer, std::size_t capacity) -> std::size_t {
            if (offset >= size) {
                return 0;
            }
            const std::size_t count = std::min({chunk, capacity, size - offset});
            std::copy(data + offset, data + offset + count, buffer);
            offset += count;
            return count;
        },
        state);
    const float ratio = state.duckRatio.load();
    if (!(ratio >= 0.0f && ratio <= 1.0f) || state.running.load() != state.loopActive.load()) {
        std::abort();
    }
    return 0;
}
