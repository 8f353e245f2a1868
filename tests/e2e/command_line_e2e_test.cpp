// The command line as a host sees it: usage errors, the pid and the mode reaching the activation.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/expected_lines.h"
#include "support/host_process.h"

namespace {

TEST(CommandLineEndToEnd, UsageErrorsExitWithOne) {
    const std::vector<std::vector<std::string>> cases = {{}, {"0"}, {"abc"}, {"--help"}, {""}, {"--LIST-SESSIONS"}};
    for (const auto& args : cases) {
        AudioEngineDouble engine("");
        const Finished run = runToEnd(args);
        EXPECT_EQ(run.exitCode, 1u) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(run.lines, (Lines{kBuild, kUsage})) << (args.empty() ? "(none)" : args[0]);
        EXPECT_TRUE(run.output.empty());
        EXPECT_TRUE(engine.recorded().empty()) << "nothing is activated";
    }
}

// The project version (CMakeLists.txt), given to this test by the build.
TEST(CommandLineEndToEnd, VersionIsAskedForByTheWholeFirstArgumentOnly) {
    {
        AudioEngineDouble engine("");
        const Finished run = runToEnd({"--version"});
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.output, QUILLMERE_PROJECT_VERSION "\r\n");
        EXPECT_EQ(run.lines, Lines{kBuild});
        EXPECT_TRUE(engine.recorded().empty()) << "nothing is activated";
    }
    AudioEngineDouble engine(kFirstPollFails);
    const Finished run = runToEnd({"1234", "--version"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.output.empty());
    ASSERT_GE(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[1], "[win-helper] Ignoring unknown option: --version");
    EXPECT_EQ(engine.recorded("start").size(), 1u) << "a capture like any other";
}

TEST(CommandLineEndToEnd, PidIsReadAsAtolReadsIt) {
    struct Case {
        std::string arg;
        std::string logged;
        std::string blobPid;
    };
    const Case cases[] = {{"1234abc", "1234", "d2040000"}, {" 42", "42", "2a000000"}, {"-5", "4294967291", "fbffffff"}};
    for (const auto& c : cases) {
        AudioEngineDouble engine("completion 0x80070002\n");
        const Finished run = runToEnd({c.arg});
        EXPECT_EQ(run.exitCode, 1u) << c.arg;
        EXPECT_EQ(run.lines,
                  concat({activationLines(c.logged), {kAgileQuery, "Activation completed with error: -2147024894"}}))
            << c.arg;
        EXPECT_EQ(engine.recorded("activate"),
                  Lines{"activate path=VAD\\Process_Loopback iid={1CB9AD4C-DBFA-4C32-B178-C2F568A703B2} vt=65 "
                        "size=12 blob=01000000" +
                        c.blobPid + "01000000"})
            << c.arg;
    }
}

TEST(CommandLineEndToEnd, ModeWordSelectsTheLoopbackModeInTheBlob) {
    struct Case {
        std::vector<std::string> args;
        bool include;
        std::string mode;
    };
    const Case cases[] = {{{"1234", "0.2", "include"}, true, "00000000"},
                          {{"1234", "0.2", "INCLUDE"}, false, "01000000"},
                          {{"1234", "0.2", "include "}, false, "01000000"},
                          {{"1234", "0.2", "exclude"}, false, "01000000"},
                          {{"1234"}, false, "01000000"}};
    for (const auto& c : cases) {
        AudioEngineDouble engine("completion 0x80070002\n");
        const Finished run = runToEnd(c.args);
        EXPECT_EQ(run.lines, concat({activationLines("1234", c.include),
                                     {kAgileQuery, "Activation completed with error: -2147024894"}}));
        const Lines activations = engine.recorded("activate");
        ASSERT_EQ(activations.size(), 1u);
        EXPECT_EQ(activations[0].substr(activations[0].size() - 8), c.mode);
    }
}

TEST(CommandLineEndToEnd, RatioArgumentWithoutANumberIsIgnoredWithALine) {
    for (const char* ratio : {"nan", "loud"}) {
        AudioEngineDouble engine("completion 0x80070002\n");
        const Finished run = runToEnd({"1234", ratio});
        ASSERT_GE(run.lines.size(), 2u) << ratio;
        EXPECT_EQ(run.lines[0], kBuild);
        EXPECT_EQ(run.lines[1], std::string("[win-helper] Ignoring invalid duck ratio argument: ") + ratio);
    }
}

}  // namespace
