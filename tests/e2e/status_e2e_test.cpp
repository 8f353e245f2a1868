// The status lines (--status) as a host sees them: a target that is missing or whose whole tree
// ends, a capture that hears nothing while the sessions it records play, and audio the engine
// dropped, against real process trees and the double's meters, flags and device positions.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/clock.h"
#include "support/expected_lines.h"
#include "support/host_process.h"
#include "support/process_tree.h"

namespace {

const std::string kSilent = "[win-helper] Capture silent while its sessions play";
const std::string kNotSilent = "[win-helper] Capture no longer silent";

std::string session(DWORD pid, const std::string& rest) {
    return "session speakers pid=" + pidText(pid) + " " + rest + "\n";
}

std::string packets(int count, const std::string& kind) {
    std::string script;
    for (int i = 0; i < count; ++i) {
        script += "packet 480 " + kind + "\n";
    }
    return script;
}

void terminate(DWORD pid) {
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(process, nullptr) << pid;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

std::ptrdiff_t countOf(const Lines& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
}

// The lines that start with this text.
Lines linesStarting(const Lines& lines, const std::string& prefix) {
    Lines kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return kept;
}

TEST(StatusEndToEnd, ATargetMissingAtTheStartAndATreeThatEndsWithItsLastProcess) {
    {
        AudioEngineDouble engine(kFirstPollFails);
        const Finished run = runToEnd({"3999996", "--status"});
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.lines,
                  concat({activationLines("3999996"),
                          {kAgileQuery, kStarted, "[win-helper] Excluding PID: 3999996", kFloat48k,
                           "[win-helper] Target process not found: 3999996", kFirstPollFailedLine, kRestoring}}));
    }
    // A parent that ends while its child plays on, as a launcher does, is no end of the tree.
    ProcessTree target(1);
    AudioEngineDouble engine("");
    HostProcess host({{target.rootText(), "--status"}});
    ASSERT_TRUE(host.waitForLog(kFloat48k));
    const std::string ended = "[win-helper] Target process tree ended: " + target.rootText();
    terminate(target.pids()[0]);
    EXPECT_FALSE(host.waitForLog(ended, 3000)) << "the child lives";
    terminate(target.pids()[1]);
    const double lastEnded = nowMs();
    EXPECT_TRUE(host.waitForLog(ended, 1500 + 2500)) << "within 1.5 s of the last one's end, with a margin";
    const double took = nowMs() - lastEnded;
    Sleep(1200);  // more than a pass: the line comes once
    host.write("exit\n");
    EXPECT_EQ(host.waitForExit(), 0u);
    const Lines lines = host.logLines();
    EXPECT_EQ(countOf(lines, ended), 1) << "after " << took << " ms";
    EXPECT_TRUE(linesStarting(lines, "[win-helper] Target process not found").empty());
}

// Three captures at once, each with a session that plays by its meter:
//   heard:  silent-flagged packets for 4 s, then a tone: silent once, then no longer silent;
//   zeros:  packets of zeros throughout: silent, and it stays so;
//   others: silent-flagged packets, while no session that counts plays: its recorded sessions
//           have no meter, a meter that fails or reads below 0.001, or are inactive, and those
//           whose meters show sound are not recorded (the target's, the program's own).
TEST(StatusEndToEnd, SilenceWhileTheRecordedSessionsPlayIsToldOnceAndSoIsItsEnd) {
    ProcessTree heardPlayer(0);
    ProcessTree zerosPlayer(0);
    ProcessTree othersTarget(0);
    ProcessTree othersPlayer(0);
    const std::string realtime = "realtime\n";
    AudioEngineDouble heardEngine(realtime + packets(400, "silent") + packets(300, "tone") +
                                  session(heardPlayer.root(), "id=player peak=0.5"));
    const double started = nowMs();
    HostProcess heard({{heardPlayer.rootText(), "0.2", "include", "--status"}});
    AudioEngineDouble zerosEngine(realtime + "repeat\n" + packets(1, "samples 0") +
                                  session(zerosPlayer.root(), "id=player peak=0.5"));
    HostProcess zeros({{"3999996", "--status"}});
    AudioEngineDouble othersEngine(
        realtime + "repeat\n" + packets(1, "silent") + session(othersPlayer.root(), "id=nometer no_meter") +
        session(othersPlayer.root(), "id=fails peak_fail=0x80004005 peak=0.5") +
        session(othersPlayer.root(), "id=quiet peak=0.0009") +
        session(othersPlayer.root(), "id=idle inactive peak=0.5") + session(othersTarget.root(), "id=target peak=0.5") +
        "session speakers pid=self id=own peak=0.5\n");
    HostProcess others({{othersTarget.rootText(), "--status"}});

    ASSERT_TRUE(heard.waitForLog(kSilent, 10000));
    EXPECT_GE(nowMs() - started, 2000.0) << "a stretch is told once it has lasted 2 s";
    EXPECT_TRUE(heard.waitForLog(kNotSilent, 10000));
    EXPECT_TRUE(zeros.waitForLog(kSilent, 10000));
    Sleep(1200);  // one more pass for each
    for (HostProcess* host : {&heard, &zeros, &others}) {
        host->write("exit\n");
        EXPECT_EQ(host->waitForExit(), 0u);
    }

    const Lines heardLines = heard.logLines();
    const auto format = std::find(heardLines.begin(), heardLines.end(), kFloat48k);
    const auto silent = std::find(heardLines.begin(), heardLines.end(), kSilent);
    const auto notSilent = std::find(heardLines.begin(), heardLines.end(), kNotSilent);
    EXPECT_TRUE(format < silent && silent < notSilent && notSilent != heardLines.end());
    EXPECT_EQ(countOf(heardLines, kSilent), 1);
    EXPECT_EQ(countOf(heardLines, kNotSilent), 1);
    const Lines zerosLines = zeros.logLines();
    EXPECT_EQ(countOf(zerosLines, kSilent), 1);
    EXPECT_EQ(countOf(zerosLines, kNotSilent), 0) << "zeros are no sound";
    const Lines othersLines = others.logLines();
    EXPECT_EQ(countOf(othersLines, kSilent), 0);
    EXPECT_EQ(countOf(othersLines, kNotSilent), 0);
    EXPECT_FALSE(othersEngine.recorded("meter nometer").empty()) << "the meters were asked for";
}

// A discontinuity at the first packet, which follows none; 300 ms over which the position moves
// on without the flag; then a discontinuity that jumps 3005 frames at 48 kHz, 62.6 ms.
TEST(StatusEndToEnd, LostAudioIsTheJumpOfTheDevicePositionAtADiscontinuity) {
    const std::string script = "discontinuity 40\n" + packets(2, "tone") + "pause 300 advance\n" + packets(1, "tone") +
                               "discontinuity 62.6\n" + packets(2, "tone");
    AudioEngineDouble statusEngine(script);
    HostProcess status({{"1234", "--status"}});
    AudioEngineDouble plainEngine(script);
    HostProcess plain({{"1234"}});
    EXPECT_TRUE(status.waitForLog("[win-helper] Audio lost: ", 10000));
    Sleep(2500);  // passes enough for any other line
    status.write("exit\n");
    plain.write("exit\n");
    EXPECT_EQ(status.waitForExit(), 0u);
    EXPECT_EQ(plain.waitForExit(), 0u);
    EXPECT_EQ(linesStarting(status.logLines(), "[win-helper] Audio lost"), Lines{"[win-helper] Audio lost: 63 ms"});
    EXPECT_EQ(statusEngine.recorded("get_buffer positions requested").size(), 1u);
    EXPECT_EQ(status.output().size(), 5u * 160u * 2u);
    EXPECT_EQ(status.output(), plain.output()) << "the stream is the same with the status lines";
}

}  // namespace
