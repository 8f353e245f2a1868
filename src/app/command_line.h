#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class RunMode { ListSessions, ListApps, Capture, Usage };

struct CommandLine {
    RunMode mode = RunMode::Usage;
    std::uint32_t pid = 0;
    // Clamped into 0..1 when the second argument is present and reads as a number.
    std::optional<float> duckRatio;
    // The second argument when it reads as not-a-number; the ratio then stays at its default.
    std::optional<std::string> invalidDuckRatio;
    bool includeMode = false;
};

CommandLine parseCommandLine(int argc, const char* const* argv);

// The value C's atof gives for the text: leading white space skipped, the longest numeric
// prefix used (including inf, nan and hexadecimal forms), 0 when there is none.
double parseAtof(const char* text);
