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

void checkedLine(const std::string& line) {
    const float before = g_duckRatio.load();
    const bool running = g_captureRunning.load();
    executeStdinLine(line);
    const float after = g_duckRatio.load();
    if (!(after >= 0.0f && after <= 1.0f)) {
        std::abort();  // only ratios within 0..1 are ever stored
    }
    if (g_captureRunning.load() != g_captureLoopActive.load()) {
        std::abort();  // a stop clears both flags together
    }
    if (!isStopWord(line) && !hasNumericPrefix(line) && (after != before || g_captureRunning.load() != running)) {
        std::abort();  // a refused line changes nothing
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    g_captureRunning.store(true);
    g_captureLoopActive.store(true);
    g_duckRatio.store(0.2f);
    const std::size_t chunk = 1 + data[0] % kStdinReadSize;
    StdinLineSplitter splitter;
    for (std::size_t offset = 1; offset < size; offset += chunk) {
        const std::size_t count = std::min(chunk, size - offset);
        splitter.feed(reinterpret_cast<const char*>(data + offset), count, checkedLine);
    }
    splitter.finish(checkedLine);

    // The reader itself over the same reads: it ends at end of input, or at a stop.
    g_captureRunning.store(true);
    g_captureLoopActive.store(true);
    g_duckRatio.store(0.2f);
    std::size_t offset = 1;
    runStdinReader([&](char* buffer, std::size_t capacity) -> std::size_t {
        if (offset >= size) {
            return 0;
        }
        const std::size_t count = std::min({chunk, capacity, size - offset});
        std::copy(data + offset, data + offset + count, buffer);
        offset += count;
        return count;
    });
    const float ratio = g_duckRatio.load();
    if (!(ratio >= 0.0f && ratio <= 1.0f) || g_captureRunning.load() != g_captureLoopActive.load()) {
        std::abort();
    }
    return 0;
}
