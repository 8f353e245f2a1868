// The command-line parser over arbitrary arguments: the input split at NUL bytes, parsed as each
// program parses it (Windows offers both stream clocks, Linux only the steady one).
// Properties: a capture never has pid 0; a stored ratio is within 0..1; a ratio argument with
// no numeric prefix (as strtod sees it) is reported, never stored; an argument after the pid that
// starts with "--" is an option the program offers or reported as unknown, never the ratio; the
// Linux program's stream is always steady.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

// "--keep=" and a whole decimal from 1 to 4294967295 (leading zeros allowed).
bool keepsAPid(const std::string& option) {
    if (option.rfind("--keep=", 0) != 0) {
        return false;
    }
    const std::string digits = option.substr(7);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const std::string significant = digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
    return !significant.empty() &&
           (significant.size() < 10 || (significant.size() == 10 && significant <= "4294967295"));
}

bool offered(const std::string& option, ClockOptions clocks) {
    return option == "--quality=high" || option == "--quality=linear" || option == "--clock=steady" ||
           (option == "--clock=packets" && clocks == ClockOptions::PacketsOrSteady) || option == "--status" ||
           option == "--duck=target" || option == "--duck=others" || keepsAPid(option);
}

void check(const std::vector<std::string>& words, const std::vector<const char*>& argv, ClockOptions clocks) {
    const CommandLine line = parseCommandLine(static_cast<int>(argv.size()), argv.data(), clocks);
    if (line.mode == RunMode::Capture && line.pid == 0) {
        std::abort();
    }
    if (line.duckRatio && !(*line.duckRatio >= 0.0f && *line.duckRatio <= 1.0f)) {
        std::abort();
    }
    if (line.duckRatio && line.invalidDuckRatio) {
        std::abort();
    }
    if (clocks == ClockOptions::SteadyOnly && line.clock != StreamClock::Steady) {
        std::abort();
    }
    if (line.mode != RunMode::Capture) {
        return;
    }
    std::vector<std::string> positional;
    std::vector<std::string> unknown;
    for (std::size_t i = 2; i < words.size(); ++i) {
        if (words[i].rfind("--", 0) != 0) {
            positional.push_back(words[i]);
        } else if (!offered(words[i], clocks)) {
            unknown.push_back(words[i]);
        }
    }
    if (line.unknownOptions != unknown) {
        std::abort();
    }
    if (positional.empty() && (line.duckRatio || line.invalidDuckRatio)) {
        std::abort();  // options never count as the ratio
    }
    if (!positional.empty()) {
        char* end = nullptr;
        std::strtod(positional[0].c_str(), &end);
        if (end == positional[0].c_str() && (line.duckRatio || line.invalidDuckRatio != positional[0])) {
            std::abort();  // an argument with no numeric prefix is refused, never read as 0
        }
    }
}

}  // namespace

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
    check(words, argv, ClockOptions::PacketsOrSteady);
    check(words, argv, ClockOptions::SteadyOnly);
    return 0;
}
