#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace {

CommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "Quillmere.exe");
    return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, ChoosesTheModeFromTheWholeFirstArgument) {
    struct Case {
        const char* name;
        std::vector<const char*> args;
        RunMode mode;
    };
    const Case cases[] = {
        {"no arguments", {}, RunMode::Usage},
        {"list sessions", {"--list-sessions"}, RunMode::ListSessions},
        {"list sessions with extra words", {"--list-sessions", "x", "y"}, RunMode::ListSessions},
        {"list apps", {"--list-apps", "1"}, RunMode::ListApps},
        {"option in other case", {"--LIST-SESSIONS"}, RunMode::Usage},
        {"option with suffix", {"--list-apps=1"}, RunMode::Usage},
        {"pid zero", {"0"}, RunMode::Usage},
        {"letters", {"abc"}, RunMode::Usage},
        {"help", {"--help"}, RunMode::Usage},
        {"empty", {""}, RunMode::Usage},
        {"pid", {"1234"}, RunMode::Capture},
        {"version", {"--version"}, RunMode::Version},
        {"version with extra words", {"--version", "1234"}, RunMode::Version},
        {"version after a pid", {"1234", "--version"}, RunMode::Capture},
        {"guardian", {"--guardian", "12", "0034"}, RunMode::Guardian},
        {"guardian's starter", {"--start-guardian", "4294967295", "1"}, RunMode::GuardianStarter},
        {"guardian of pid zero", {"--guardian", "0", "34"}, RunMode::Usage},
        {"guardian of a pid past 32 bits", {"--guardian", "4294967296", "34"}, RunMode::Usage},
        {"guardian with a signed pid", {"--guardian", "+12", "34"}, RunMode::Usage},
        {"guardian without its creation time", {"--guardian", "12"}, RunMode::Usage},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.args).mode, c.mode) << c.name;
    }
}

TEST(CommandLine, ReadsThePidAsAtolDoesAndKeepsTheBitPattern) {
    struct Case {
        const char* arg;
        std::uint32_t pid;
    };
    const Case cases[] = {
        {"1234abc", 1234u},           {" 42", 42u},
        {"-5", 4294967291u},          {"+7", 7u},
        {"99999999999", 2147483647u}, {"-99999999999", 2147483648u},
        {"4294967295", 2147483647u},
    };
    for (const auto& c : cases) {
        const CommandLine line = parse({c.arg});
        EXPECT_EQ(line.mode, RunMode::Capture) << c.arg;
        EXPECT_EQ(line.pid, c.pid) << c.arg;
    }
}

TEST(CommandLine, ClampsTheDuckRatioIntoZeroToOne) {
    struct Case {
        const char* arg;
        float ratio;
    };
    const Case cases[] = {
        {"1.5", 1.0f}, {"-0.3", 0.0f}, {"0.35", 0.35f},   {"0.5abc", 0.5f}, {" 0.25", 0.25f},
        {"inf", 1.0f}, {"-inf", 0.0f}, {"0x0.8p0", 0.5f}, {"1e-50", 0.0f},  {"-0", 0.0f},
    };
    for (const auto& c : cases) {
        const CommandLine line = parse({"10", c.arg});
        ASSERT_TRUE(line.duckRatio.has_value()) << c.arg;
        EXPECT_EQ(*line.duckRatio, c.ratio) << c.arg;
        EXPECT_FALSE(line.invalidDuckRatio.has_value()) << c.arg;
    }
    EXPECT_FALSE(parse({"10"}).duckRatio.has_value());
}

TEST(CommandLine, RatioWithoutANumberIsReportedAndNotStored) {
    for (const char* arg : {"nan", "NaN", "-nan(1)", "abc", "loud", "", " ", "include", "."}) {
        const CommandLine line = parse({"10", arg});
        EXPECT_FALSE(line.duckRatio.has_value()) << arg;
        ASSERT_TRUE(line.invalidDuckRatio.has_value()) << arg;
        EXPECT_EQ(*line.invalidDuckRatio, arg);
    }
}

TEST(CommandLine, OnlyTheExactWordIncludeSelectsIncludeMode) {
    EXPECT_TRUE(parse({"10", "0.2", "include"}).includeMode);
    for (const char* word : {"INCLUDE", "exclude", "include ", "Include", ""}) {
        EXPECT_FALSE(parse({"10", "0.2", word}).includeMode) << word;
    }
    EXPECT_FALSE(parse({"10", "0.2"}).includeMode);
    EXPECT_FALSE(parse({"10", "include"}).includeMode);
}

TEST(CommandLine, OptionsStandAnywhereAfterThePidAndNeverCountAsRatioOrMode) {
    struct Case {
        std::vector<const char*> args;
        ResampleQuality quality;
        std::optional<float> ratio;
        bool include;
        std::vector<std::string> unknown;
    };
    const auto high = ResampleQuality::High;
    const auto linear = ResampleQuality::Linear;
    const Case cases[] = {
        {{"10", "--quality=high"}, high, std::nullopt, false, {}},
        {{"10", "0.5", "include", "--quality=high"}, high, 0.5f, true, {}},
        {{"10", "--quality=high", "0.5", "include"}, high, 0.5f, true, {}},
        {{"10", "0.5", "--quality=high", "include"}, high, 0.5f, true, {}},
        {{"10", "--quality=high", "--quality=linear"}, linear, std::nullopt, false, {}},
        {{"10", "--quality=HIGH", "--loud", "--", "0.3"}, linear, 0.3f, false, {"--quality=HIGH", "--loud", "--"}},
        {{"10", "-0.5", "include"}, linear, 0.0f, true, {}},
    };
    for (const Case& c : cases) {
        const CommandLine line = parse(c.args);
        EXPECT_EQ(line.mode, RunMode::Capture);
        EXPECT_EQ(line.quality, c.quality) << c.args[1];
        EXPECT_EQ(line.duckRatio, c.ratio) << c.args[1];
        EXPECT_FALSE(line.invalidDuckRatio) << c.args[1];
        EXPECT_EQ(line.includeMode, c.include) << c.args[1];
        EXPECT_EQ(line.unknownOptions, c.unknown) << c.args[1];
    }
}

TEST(CommandLine, StatusAndWhatIsLoweredAreOptionsAndEveryKeptPidCounts) {
    const auto byMode = DuckedSessions::ByMode;
    const auto target = DuckedSessions::TargetTree;
    const auto others = DuckedSessions::Others;
    struct Case {
        std::vector<const char*> args;
        bool status;
        DuckedSessions sessions;
        std::vector<std::uint32_t> kept;
        std::vector<std::string> unknown;
    };
    const Case cases[] = {
        {{"10"}, false, byMode, {}, {}},
        {{"10", "--status", "0.5", "include"}, true, byMode, {}, {}},
        {{"10", "--duck=others", "include"}, false, others, {}, {}},
        {{"10", "--duck=others", "--duck=target"}, false, target, {}, {}},
        {{"10", "--duck=all", "--duck=", "--duck"}, false, byMode, {}, {"--duck=all", "--duck=", "--duck"}},
        {{"10", "--keep=42", "--keep=4294967295", "--keep=042"}, false, byMode, {42, 4294967295u, 42}, {}},
        {{"10", "--keep=0", "--keep=4294967296", "--keep=-1", "--keep=+1", "--keep= 1", "--keep=", "--keep=1x"},
         false,
         byMode,
         {},
         {"--keep=0", "--keep=4294967296", "--keep=-1", "--keep=+1", "--keep= 1", "--keep=", "--keep=1x"}},
        {{"10", "--STATUS", "--status=on"}, false, byMode, {}, {"--STATUS", "--status=on"}},
    };
    for (const Case& c : cases) {
        const CommandLine line = parse(c.args);
        EXPECT_EQ(line.mode, RunMode::Capture);
        EXPECT_EQ(line.status, c.status) << c.args.back();
        EXPECT_EQ(line.ducking.sessions, c.sessions) << c.args.back();
        EXPECT_EQ(line.ducking.kept, c.kept) << c.args.back();
        EXPECT_EQ(line.unknownOptions, c.unknown) << c.args.back();
    }
}

TEST(CommandLine, TheClockOptionIsTheLastOneTheProgramOffers) {
    struct Case {
        std::vector<const char*> args;
        ClockOptions offered;
        StreamClock clock;
        std::vector<std::string> unknown;
        std::optional<float> ratio;
    };
    const auto both = ClockOptions::PacketsOrSteady;
    const auto steadyOnly = ClockOptions::SteadyOnly;
    const auto packets = StreamClock::Packets;
    const auto steady = StreamClock::Steady;
    const Case cases[] = {
        {{"10"}, both, packets, {}, std::nullopt},
        {{"10", "--clock=steady", "0.5"}, both, steady, {}, 0.5f},
        {{"10", "--clock=steady", "--clock=packets"}, both, packets, {}, std::nullopt},
        {{"10", "--clock=Steady", "--clock"}, both, packets, {"--clock=Steady", "--clock"}, std::nullopt},
        {{"10"}, steadyOnly, steady, {}, std::nullopt},
        {{"10", "--loud", "--clock=packets", "0.5", "--clock=steady"},
         steadyOnly,
         steady,
         {"--loud", "--clock=packets"},
         0.5f},
    };
    for (const Case& c : cases) {
        std::vector<const char*> args = c.args;
        args.insert(args.begin(), "quillmere");
        const CommandLine line = parseCommandLine(static_cast<int>(args.size()), args.data(), c.offered);
        EXPECT_EQ(line.clock, c.clock) << args.back();
        EXPECT_EQ(line.unknownOptions, c.unknown) << args.back();
        EXPECT_EQ(line.duckRatio, c.ratio) << args.back();
    }
}

}  // namespace
