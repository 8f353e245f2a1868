#include "app/command_line.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "common/log.h"
#include "common/protocol_text.h"
#include "common/run_state.h"
#include "common/text.h"

namespace {

// atol's reading of a pid: white space, sign, digits; out-of-range values clamp to the
// 32-bit signed bounds; the bit pattern is then taken as an unsigned id (-5 -> 4294967291).
std::uint32_t parsePid(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    constexpr long long kMin = std::numeric_limits<std::int32_t>::min();
    constexpr long long kMax = std::numeric_limits<std::int32_t>::max();
    const long long clamped = value < kMin ? kMin : (value > kMax ? kMax : value);
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(clamped));
}

// The process of a --keep=<pid> option: a whole decimal from 1 to 4294967295.
std::optional<std::uint32_t> keptPid(const char* argument) {
    constexpr std::string_view kKeep = "--keep=";
    if (std::strncmp(argument, kKeep.data(), kKeep.size()) != 0) {
        return std::nullopt;
    }
    const auto pid = parseWholeDecimal(argument + kKeep.size(), UINT32_MAX);
    if (!pid || *pid == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*pid);
}

}  // namespace

std::optional<double> parseNumericPrefix(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text) {
        return std::nullopt;
    }
    return value;
}

CommandLine parseCommandLine(int argc, const char* const* argv, ClockOptions clocks) {
    CommandLine result;
    result.clock = clocks == ClockOptions::SteadyOnly ? StreamClock::Steady : StreamClock::Packets;
    if (argc < 2) {
        return result;
    }
    const char* first = argv[1];
    if (std::strcmp(first, "--list-sessions") == 0) {
        result.mode = RunMode::ListSessions;
        return result;
    }
    if (std::strcmp(first, "--list-apps") == 0) {
        result.mode = RunMode::ListApps;
        return result;
    }
    if (std::strcmp(first, "--version") == 0) {
        result.mode = RunMode::Version;
        return result;
    }
    const bool starter = std::strcmp(first, kGuardianStarterOption) == 0;
    if (starter || std::strcmp(first, kGuardianOption) == 0) {
        const auto pid = argc == 4 ? parseWholeDecimal(argv[2], UINT32_MAX) : std::nullopt;
        const auto creationTime = argc == 4 ? parseWholeDecimal(argv[3]) : std::nullopt;
        if (pid && creationTime && *pid != 0) {
            result.mode = starter ? RunMode::GuardianStarter : RunMode::Guardian;
            result.guardedPid = static_cast<std::uint32_t>(*pid);
            result.guardedCreationTime = *creationTime;
        }
        return result;
    }
    result.pid = parsePid(first);
    if (result.pid == 0) {
        return result;
    }
    result.mode = RunMode::Capture;
    std::vector<const char*> positional;
    for (int i = 2; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strncmp(argument, "--", 2) != 0) {
            positional.push_back(argument);
        } else if (std::strcmp(argument, "--quality=high") == 0) {
            result.quality = ResampleQuality::High;
        } else if (std::strcmp(argument, "--quality=linear") == 0) {
            result.quality = ResampleQuality::Linear;
        } else if (std::strcmp(argument, "--clock=steady") == 0) {
            result.clock = StreamClock::Steady;
        } else if (std::strcmp(argument, "--clock=packets") == 0 && clocks == ClockOptions::PacketsOrSteady) {
            result.clock = StreamClock::Packets;
        } else if (std::strcmp(argument, "--status") == 0) {
            result.status = true;
        } else if (std::strcmp(argument, "--duck=target") == 0) {
            result.ducking.sessions = DuckedSessions::TargetTree;
        } else if (std::strcmp(argument, "--duck=others") == 0) {
            result.ducking.sessions = DuckedSessions::Others;
        } else if (const auto kept = keptPid(argument)) {
            result.ducking.kept.push_back(*kept);
        } else {
            result.unknownOptions.emplace_back(argument);
        }
    }
    if (!positional.empty()) {
        const std::optional<double> value = parseNumericPrefix(positional[0]);
        const float ratio = static_cast<float>(value.value_or(0.0));
        if (!value || std::isnan(ratio)) {
            result.invalidDuckRatio = positional[0];
        } else {
            result.duckRatio = ratio < 0.0f ? 0.0f : (ratio > 1.0f ? 1.0f : ratio);
        }
    }
    if (positional.size() >= 2) {
        result.includeMode = std::strcmp(positional[1], "include") == 0;
    }
    return result;
}

void applyCaptureArguments(const CommandLine& commandLine, RunState& state) {
    if (commandLine.duckRatio) {
        state.duckRatio.exchange(*commandLine.duckRatio);
    }
    if (commandLine.invalidDuckRatio) {
        LogLine() << kRatioArgumentRefusedPrefix << *commandLine.invalidDuckRatio;
    }
    for (const std::string& option : commandLine.unknownOptions) {
        LogLine() << kUnknownOptionPrefix << option;
    }
}
