// Loopback activation as a host sees it: every failure's lines and exit status 1.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/expected_lines.h"
#include "support/host_process.h"

namespace {

TEST(ActivationEndToEnd, EveryFailureEndsWithItsLinesAndExitOne) {
    struct Case {
        const char* name;
        std::string script;
        Lines after;  // the lines after the activation lines
        int activateCalls;
    };
    const Case cases[] = {
        {"call fails",
         "activate 0x80004005\n",
         {"[win-helper] ActivateAudioInterfaceAsync failed (hr=-2147467259).",
          "[win-helper] Activation failed permanently: -2147467259"},
         1},
        {"illegal method call, retry fails",
         "activate 0x8000000E\nactivate_retry 0x80070005\n",
         {"[win-helper] ActivateAudioInterfaceAsync failed (hr=-2147483634).",
          "[win-helper] Attempting WinRT initialization (RoInitialize) fallback...",
          "[win-helper] RoInitialize returned: 1", "[win-helper] Retrying ActivateAudioInterfaceAsync...",
          "[win-helper] Activation failed permanently: -2147024891"},
         2},
        {"illegal method call, retry completes with error",
         "activate 0x8000000E\ncompletion 0x80070002\n",
         {"[win-helper] ActivateAudioInterfaceAsync failed (hr=-2147483634).",
          "[win-helper] Attempting WinRT initialization (RoInitialize) fallback...",
          "[win-helper] RoInitialize returned: 1", "[win-helper] Retrying ActivateAudioInterfaceAsync...", kAgileQuery,
          "Activation completed with error: -2147024894"},
         2},
        {"completion error",
         "completion 0x80070002\n",
         {kAgileQuery, "Activation completed with error: -2147024894"},
         1},
        {"completion without a client", "completion_without_client\n", {kAgileQuery, "Failed to get IAudioClient"}, 1},
        {"completion never comes",
         "completion_later_ms never\n",
         {kAgileQuery, "[win-helper] ActivateAudioInterfaceAsync did not complete in time"},
         1},
    };
    for (const auto& c : cases) {
        AudioEngineDouble engine(c.script);
        const Finished run = runToEnd({"1234"});
        EXPECT_EQ(run.exitCode, 1u) << c.name;
        EXPECT_EQ(run.lines, concat({activationLines(), c.after})) << c.name;
        EXPECT_EQ(engine.recorded("activate").size(), static_cast<std::size_t>(c.activateCalls)) << c.name;
        EXPECT_TRUE(engine.recorded("initialize").empty()) << c.name;
    }
}

// A folder of its own holding a copy of the program and, as Mmdevapi.dll, another file of
// the test folder.
std::string programBeside(const std::string& library) {
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    const std::string folder = std::string(directory) + "quillmere-planted";
    CreateDirectoryA(folder.c_str(), nullptr);
    CopyFileA((testBinDir() + "\\Quillmere.exe").c_str(), (folder + "\\Quillmere.exe").c_str(), FALSE);
    CopyFileA((testBinDir() + "\\" + library).c_str(), (folder + "\\Mmdevapi.dll").c_str(), FALSE);
    return folder + "\\Quillmere.exe";
}

TEST(ActivationEndToEnd, AMmdevapiDllBesideTheProgramIsNotLoaded) {
    AudioEngineDouble engine("completion 0x80070002\n");
    // Planted: a module without the entry point. Loading it would end in "Failed to find ...".
    HostProcess host({{"1234"}, SIZE_MAX, programBeside("tree_helper.exe")});
    EXPECT_EQ(host.waitForExit(), 1u);
    EXPECT_EQ(host.logLines(), concat({activationLines(), {kAgileQuery, "Activation completed with error: -2147024894"}}));
    EXPECT_EQ(engine.recorded("activate").size(), 1u) << "System32's library served the activation";
}

}  // namespace
