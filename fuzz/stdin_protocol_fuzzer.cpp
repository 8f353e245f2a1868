// The stdin line protocol over arbitrary bytes cut into arbitrary reads. The first byte of the
// input picks the read sizes. (Run with -close_fd_mask=2: the protocol logs every line.)

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/run_state.h"
#include "app/stdin_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    g_captureRunning.store(true);
    g_captureLoopActive.store(true);
    g_duckRatio.store(0.2f);
    const std::size_t chunk = 1 + data[0] % kStdinReadSize;
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
    if (!(ratio >= 0.0f && ratio <= 1.0f)) {
        std::abort();  // only ratios within 0..1 are ever stored
    }
    if (g_captureRunning.load() != g_captureLoopActive.load()) {
        std::abort();  // a stop clears both flags
    }
    return 0;
}
