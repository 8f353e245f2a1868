#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/pcm_downconverter.h"
#include "capture/steady_stream.h"
#include "common/run_state.h"
#include "ducking/ducking_policy.h"

enum class RunMode { ListSessions, ListApps, Capture, Guardian, GuardianStarter, Version, Usage };

// The internal options that start the guardian and, on Windows, its starter (guardian.h), each
// followed by the program's pid and creation time.
inline constexpr char kGuardianOption[] = "--guardian";
inline constexpr char kGuardianStarterOption[] = "--start-guardian";

struct CommandLine {
    RunMode mode = RunMode::Usage;
    std::uint32_t pid = 0;
    // Clamped into 0..1 when the second argument is present and reads as a number.
    std::optional<float> duckRatio;
    // The second argument when it has no numeric prefix or reads as not-a-number; the ratio
    // then stays at its default.
    std::optional<std::string> invalidDuckRatio;
    bool includeMode = false;
    // Capture options: any argument after the pid that starts with "--". They never count as
    // the ratio or the mode, wherever they stand.
    ResampleQuality quality = ResampleQuality::Linear;
    StreamClock clock = StreamClock::Packets;
    // --status: the lines that tell the host how the capture goes.
    bool status = false;
    // --duck=target, --duck=others, and every --keep=<pid>: what the ducking lowers.
    DuckingChoice ducking;
    std::vector<std::string> unknownOptions;
    // Guardian and its starter (internal, the starter on Windows only): kGuardianOption or
    // kGuardianStarterOption, the pid and the creation time, both numbers in plain decimal digits.
    std::uint32_t guardedPid = 0;
    std::uint64_t guardedCreationTime = 0;
};

// The stream clocks a program offers. The Windows program writes packets as they come unless
// asked for the steady clock; the Linux program's stream always keeps steady time, so it knows
// only --clock=steady, and --clock=packets is an unknown option there.
enum class ClockOptions { PacketsOrSteady, SteadyOnly };

CommandLine parseCommandLine(int argc, const char* const* argv, ClockOptions clocks = ClockOptions::PacketsOrSteady);

// A capture's start: takes the ratio argument into the run's state, and logs an argument that
// was no ratio and each unknown option.
void applyCaptureArguments(const CommandLine& commandLine, RunState& state);

// The value C's atof gives for the text (leading white space skipped, the longest numeric
// prefix used, including inf, nan and hexadecimal forms), or nothing when the text has no
// numeric prefix at all, where atof would give 0: "0.5abc" is 0.5, " .3" is 0.3, "-0" is 0,
// while "exit", "Stop" or "" are no number.
std::optional<double> parseNumericPrefix(const char* text);
