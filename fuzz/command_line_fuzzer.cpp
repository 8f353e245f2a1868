// The command-line parser over arbitrary arguments: the input split at NUL bytes.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words(1, "Quillmere.exe");
    words.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.emplace_back();
        } else {
            words.back().push_back(static_cast<char>(data[i]));
        }
    }
    std::vector<const char*> argv;
    for (const auto& word : words) {
        argv.push_back(word.c_str());
    }
    const CommandLine line = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    if (line.mode == RunMode::Capture && line.pid == 0) {
        std::abort();
    }
    if (line.duckRatio && !(*line.duckRatio >= 0.0f && *line.duckRatio <= 1.0f)) {
        std::abort();
    }
    if (line.duckRatio && line.invalidDuckRatio) {
        std::abort();
    }
    return 0;
}
