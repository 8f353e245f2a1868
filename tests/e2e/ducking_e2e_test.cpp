// Ducking as a host sees it: real process trees under Wine's Toolhelp snapshot, sessions of
// the audio engine double bound to their ids, exact log lines and exact volumes set.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/expected_lines.h"
#include "support/host_process.h"
#include "support/process_tree.h"

namespace {

std::string helperLabel(DWORD pid) {
    return "tree_helper.exe (pid " + pidText(pid) + ")";
}

// The ducking engine's and the restoration's lines, in order.
Lines duckingLines(const Lines& lines) {
    Lines kept;
    for (const auto& line : lines) {
        for (const char* prefix : {"[win-helper] Ducking session", "[win-helper] Updating ducking session",
                                   "[win-helper] Failed to", "[win-helper] Restor"}) {
            if (line.rfind(prefix, 0) == 0) {
                kept.push_back(line);
            }
        }
    }
    return kept;
}

std::string session(DWORD pid, const std::string& rest) {
    return "session speakers pid=" + pidText(pid) + " " + rest + "\n";
}

TEST(DuckingEndToEnd, ExcludeModeLowersEverythingOutsideBothTreesOnce) {
    ProcessTree target(1);
    ProcessTree other(0);
    ProcessTree electron(0, "MyElectronApp.exe");
    const DWORD child = target.pids()[1];
    const DWORD u = other.root();
    AudioEngineDouble engine(session(child, "id=tree volume=0.9") +
                             session(GetCurrentProcessId(), "id=host volume=0.9") +  // the test runner: "quillmere..."
                             session(u, "id=other volume=0.8") + session(electron.root(), "id=electron volume=0.7") +
                             "session speakers pid=self id=own volume=0.6\n" + session(0, "id=system volume=0.5") +
                             session(3999996, "id=ghost volume=0.5") + session(u, "id=idle inactive volume=0.5") +
                             session(u, "id=shared volume=0.5") + session(u, "id=shared volume=0.9") +
                             session(u, "id=late active_after_ms=900 volume=0.4") + session(u, "id=novol no_volume") +
                             session(u, "id=refuses set_fail=0x80070005 volume=0.3") +
                             session(u, "id=noid id_fail=0x80004005"));
    HostProcess host({{target.rootText()}});
    ASSERT_TRUE(host.waitForLog("[win-helper] Ducking session " + helperLabel(u) + ": 0.4 -> 0.08"));
    host.write("exit\n");
    EXPECT_EQ(host.waitForExit(), 0u);

    const std::string label = helperLabel(u);
    const std::string refused = "[win-helper] Failed to duck session " + label + " hr=-2147024891";
    EXPECT_EQ(duckingLines(host.logLines()),
              (Lines{"[win-helper] Ducking session " + label + ": 0.8 -> 0.16",
                     "[win-helper] Ducking session pid 3999996: 0.5 -> 0.1",
                     "[win-helper] Ducking session " + label + ": 0.5 -> 0.1",
                     "[win-helper] Updating ducking session " + label + ": 0.5 -> 0.1",
                     "[win-helper] Failed to access session volume for " + label + " hr=-2147467262", refused,
                     "[win-helper] Ducking session " + label + ": 0.4 -> 0.08", refused, kRestoring,
                     "[win-helper] Restored session volume to: 0.8", "[win-helper] Restored session volume to: 0.5",
                     "[win-helper] Restored session volume to: 0.5", "[win-helper] Restored session volume to: 0.5",
                     "[win-helper] Restored session volume to: 0.4"}));
    EXPECT_EQ(engine.recorded("set_volume "),
              (Lines{"set_volume other 0.16", "set_volume ghost 0.1", "set_volume shared 0.1", "set_volume shared 0.1",
                     "set_volume late 0.08", "set_volume other 0.8", "set_volume ghost 0.5", "set_volume shared 0.5",
                     "set_volume shared 0.5", "set_volume late 0.4"}));
    // Every pass finds the default device afresh, through the one enumerator the passes share;
    // the restore at the end, on the thread that stops the run, makes its own.
    EXPECT_EQ(engine.recorded("create_enumerator").size(), 2u);
    EXPECT_GE(engine.recorded("get_default_endpoint").size(), 3u);
}

TEST(DuckingEndToEnd, IncludeModeLowersTheTargetTreeOnly) {
    ProcessTree target(1);
    ProcessTree other(0);
    AudioEngineDouble engine(session(target.pids()[0], "id=target volume=0.9") +
                             session(target.pids()[1], "id=child volume=0.9") + session(other.root(), "id=other") +
                             "session speakers pid=self id=own volume=0.6\n");
    HostProcess host({{target.rootText(), "0.2", "include"}});
    ASSERT_TRUE(host.waitForLog("[win-helper] Ducking session " + helperLabel(target.pids()[1])));
    host.write("exit\n");
    EXPECT_EQ(host.waitForExit(), 0u);
    EXPECT_EQ(duckingLines(host.logLines()),
              (Lines{"[win-helper] Ducking session " + helperLabel(target.pids()[0]) + ": 0.9 -> 0.18",
                     "[win-helper] Ducking session " + helperLabel(target.pids()[1]) + ": 0.9 -> 0.18", kRestoring,
                     "[win-helper] Restored session volume to: 0.9", "[win-helper] Restored session volume to: 0.9"}));
}

// Include mode with --duck=others: the target is recorded and everything else lowered. Exclude
// mode with two --keep: neither kept process's sessions, nor its child's, are lowered.
TEST(DuckingEndToEnd, TheHostChoosesWhatIsLowered) {
    ProcessTree target(1);
    ProcessTree kept(1);
    ProcessTree alsoKept(0);
    ProcessTree other(0);
    const std::string otherSession = session(other.root(), "id=other volume=0.8");
    const std::string otherDucked = "[win-helper] Ducking session " + helperLabel(other.root()) + ": 0.8 -> 0.16";
    const Lines onlyOther = {otherDucked, kRestoring, "[win-helper] Restored session volume to: 0.8"};

    AudioEngineDouble othersEngine(session(target.pids()[0], "id=target volume=0.9") +
                                   session(target.pids()[1], "id=child volume=0.9") + otherSession);
    HostProcess others({{target.rootText(), "0.2", "include", "--duck=others"}});
    AudioEngineDouble keepEngine(session(kept.pids()[0], "id=kept volume=0.9") +
                                 session(kept.pids()[1], "id=keptchild volume=0.9") +
                                 session(alsoKept.root(), "id=alsokept volume=0.9") + otherSession);
    HostProcess keep({{target.rootText(), "--keep=" + kept.rootText(), "--keep=" + alsoKept.rootText()}});
    for (HostProcess* host : {&others, &keep}) {
        ASSERT_TRUE(host->waitForLog(otherDucked));
        Sleep(1200);  // one more pass
        host->write("exit\n");
        EXPECT_EQ(host->waitForExit(), 0u);
    }
    EXPECT_EQ(duckingLines(others.logLines()), onlyOther);
    EXPECT_EQ(duckingLines(keep.logLines()), onlyOther);
    EXPECT_EQ(othersEngine.recorded("set_volume "), (Lines{"set_volume other 0.16", "set_volume other 0.8"}));
    EXPECT_EQ(keepEngine.recorded("set_volume "), (Lines{"set_volume other 0.16", "set_volume other 0.8"}));
    EXPECT_TRUE(keepEngine.recorded("meter").empty()) << "no meter is read without --status";
}

TEST(DuckingEndToEnd, RatioOneOnlyRestoresAndRatioZeroSilences) {
    ProcessTree target(0);
    ProcessTree other(0);
    {
        AudioEngineDouble engine(session(other.root(), "id=a volume=0.8"));
        HostProcess host({{target.rootText(), "1"}});
        ASSERT_TRUE(host.waitForLog(kRestoring));
        Sleep(1300);  // more than one pass: the engine only waits now
        host.write("exit\n");
        EXPECT_EQ(host.waitForExit(), 0u);
        EXPECT_EQ(duckingLines(host.logLines()), (Lines{kRestoring, kRestoring}));
        EXPECT_TRUE(engine.recorded("set_volume").empty());
    }
    {
        AudioEngineDouble engine(session(other.root(), "id=a volume=0.8"));
        HostProcess host({{target.rootText(), "0"}});
        ASSERT_TRUE(host.waitForLog("[win-helper] Ducking session " + helperLabel(other.root()) + ": 0.8 -> 0"));
        host.write("exit\n");
        EXPECT_EQ(host.waitForExit(), 0u);
        EXPECT_EQ(engine.recorded("set_volume"), (Lines{"set_volume a 0", "set_volume a 0.8"}));
    }
}

TEST(DuckingEndToEnd, EveryEndOfTheCaptureRestoresTheVolumes) {
    ProcessTree target(0);
    ProcessTree other(0);
    const std::string sessions = session(other.root(), "id=a volume=0.8");
    const std::string ducked = "[win-helper] Ducking session " + helperLabel(other.root()) + ": 0.8 -> 0.16";
    struct Case {
        const char* name;
        std::string script;
        std::size_t closeOutputAfter;
    };
    const Case cases[] = {
        {"host closes stdout", "packet 480\nrepeat\nrealtime\n", 9600},
        {"capture call fails", "packet 480\nrepeat\nrealtime\nget_buffer_fail 0x88890004 100\n", SIZE_MAX},
        {"stdin ends, then stop", "", SIZE_MAX},
    };
    for (const auto& c : cases) {
        AudioEngineDouble engine(c.script + sessions);
        HostProcess host({{target.rootText()}, c.closeOutputAfter});
        ASSERT_TRUE(host.waitForLog(ducked)) << c.name;
        if (c.script.empty()) {
            host.write("stop");
            host.closeInput();
        }
        EXPECT_EQ(host.waitForExit(), 0u) << c.name;
        EXPECT_EQ(engine.recorded("set_volume"), (Lines{"set_volume a 0.16", "set_volume a 0.8"})) << c.name;
        const Lines lines = duckingLines(host.logLines());
        ASSERT_GE(lines.size(), 2u) << c.name;
        EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
                  (Lines{kRestoring, "[win-helper] Restored session volume to: 0.8"}))
            << c.name;
    }
}

TEST(DuckingEndToEnd, TheStopCommandRestoresWhileTheHostReadsNeitherOutput) {
    ProcessTree target(0);
    ProcessTree other(0);
    const std::string ducked = "[win-helper] Ducking session " + helperLabel(other.root()) + ": 0.8 -> 0.16";
    using Pipe = HostProcess::Pipe;
    for (const Pipe unread : {Pipe::Output, Pipe::Error}) {
        const char* name = unread == Pipe::Output ? "stdout unread" : "stderr full";
        AudioEngineDouble engine("packet 480\nrepeat\nrealtime\n" + session(other.root(), "id=a volume=0.8"));
        HostProcess host({{target.rootText()}});
        ASSERT_TRUE(host.waitForLog(ducked)) << name;
        host.stopReading(unread);
        if (unread == Pipe::Error) {
            for (int command = 0; command < 300; ++command) {  // a line each: more than a pipe holds
                host.write(command % 2 == 0 ? "0.25\n" : "0.2\n");
            }
        } else {
            Sleep(300);  // more than the pipe holds
        }
        host.write("exit\n");
        EXPECT_EQ(host.waitForExit(5000), 0u) << name;
        const Lines volumes = engine.recorded("set_volume");
        ASSERT_FALSE(volumes.empty()) << name;
        EXPECT_EQ(volumes.back(), "set_volume a 0.8") << name;
        for (const std::string& line : host.logLines()) {
            EXPECT_EQ(line.rfind("[win-helper] ", 0), 0u) << name << ": " << line;
        }
    }
}

}  // namespace
