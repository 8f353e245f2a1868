// The status lines (--status) and the choice of what is lowered (--duck, --keep) on a real sound
// server: real process trees, real streams, a host that stops reading.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "linux_process.h"

namespace {

using namespace std::chrono_literals;

const std::string kFormat = "[win-helper] Format: 48000Hz, 2 channels, 32 bits, float";
const std::string kSilent = "[win-helper] Capture silent while its sessions play";
const std::string kNotSilent = "[win-helper] Capture no longer silent";
const std::string kLostPrefix = "[win-helper] Audio lost: ";

std::ptrdiff_t countOf(const std::vector<std::string>& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
}

std::vector<std::string> linesStarting(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return kept;
}

// A player at full volume, whatever the server remembers for it from earlier tests.
std::unique_ptr<LinuxProcess> play(double seconds) {
    auto player = std::make_unique<LinuxProcess>(
        std::vector<std::string>{tonePlayerProgram(), "440", "0.3", std::to_string(seconds)});
    EXPECT_TRUE(player->waitForOutput(8)) << "the player could not open its stream";
    run("pactl set-sink-input-volume " + reportedStream(player->pid()).index + " 1.0");
    return player;
}

int stop(LinuxProcess& capture) {
    capture.write("exit\n");
    return capture.wait();
}

// A pid no process has now.
std::string unusedPid() {
    int pid = 3999996;
    while (std::filesystem::exists("/proc/" + std::to_string(pid))) {
        --pid;
    }
    return std::to_string(pid);
}

TEST(LinuxStatus, ATargetMissingAtTheStartAndATreeThatEndsOnlyWithItsLastProcess) {
    const std::string missing = unusedPid();
    LinuxProcess absent({quillmereProgram(), missing, "1", "include", "--status"});
    ASSERT_TRUE(absent.waitForLog(kFormat));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(stop(absent), 0);
    const std::vector<std::string> absentLines = absent.logLines();
    const auto format = std::find(absentLines.begin(), absentLines.end(), kFormat);
    ASSERT_NE(format, absentLines.end());
    EXPECT_EQ(*(format + 1), "[win-helper] Target process not found: " + missing) << "right after the format";
    EXPECT_EQ(linesStarting(absentLines, "[win-helper] Target process").size(), 1u);

    // A launcher that starts a player and exits while it plays on: the player, re-parented, is
    // still the target's tree.
    LinuxProcess launcher({"/bin/sh", "-c", "\"$0\" 440 0.3 60 & sleep 2", tonePlayerProgram()});
    ASSERT_TRUE(launcher.waitForOutput(8));
    const std::string output = launcher.output();
    const pid_t player = std::atoi(output.substr(output.find(' ') + 1).c_str());
    const std::string ended = "[win-helper] Target process tree ended: " + std::to_string(launcher.pid());
    LinuxProcess capture({quillmereProgram(), std::to_string(launcher.pid()), "1", "include", "--status"});
    ASSERT_TRUE(capture.waitForLog(kFormat));
    launcher.wait();
    EXPECT_FALSE(capture.waitForLog(ended, 3s)) << "the player lives on";
    run("kill " + std::to_string(player));
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_TRUE(capture.waitForLog(ended, 1500ms + 2500ms)) << "within 1.5 s, with a margin";
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed);
    std::this_thread::sleep_for(1200ms);  // more than a pass: the line comes once
    EXPECT_EQ(stop(capture), 0);
    EXPECT_EQ(countOf(capture.logLines(), ended), 1) << "after " << took.count() << " ms";
}

TEST(LinuxStatus, AMutedRecordedStreamIsSilenceUntilItIsUnmutedAndAnUnreadOutputIsAudioLost) {
    const auto player = play(60);
    const std::string index = reportedStream(player->pid()).index;
    LinuxProcess capture({quillmereProgram(), std::to_string(player->pid()), "1", "include", "--status"});
    ASSERT_TRUE(capture.waitForLog(kFormat));
    std::this_thread::sleep_for(2500ms);
    EXPECT_TRUE(linesStarting(capture.logLines(), kLostPrefix).empty()) << "nothing is lost while the host reads";

    run("pactl set-sink-input-mute " + index + " 1");
    const auto muted = std::chrono::steady_clock::now();
    ASSERT_TRUE(capture.waitForLog(kSilent, 8s));
    EXPECT_GE(std::chrono::steady_clock::now() - muted, 2s) << "a stretch is told once it has lasted 2 s";
    run("pactl set-sink-input-mute " + index + " 0");
    EXPECT_TRUE(capture.waitForLog(kNotSilent, 5s));

    capture.stopReading(LinuxProcess::Pipe::Output);
    std::this_thread::sleep_for(6s);
    capture.resumeReading(LinuxProcess::Pipe::Output);
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(stop(capture), 0);
    const std::vector<std::string> lines = capture.logLines();
    EXPECT_EQ(countOf(lines, kSilent), 1);
    EXPECT_EQ(countOf(lines, kNotSilent), 1);
    // Six seconds unread, less what the pipe's page and the program's half-second queues held.
    std::uint64_t lost = 0;
    for (const std::string& line : linesStarting(lines, kLostPrefix)) {
        EXPECT_EQ(line.substr(line.size() - 3), " ms");
        lost += std::stoull(line.substr(kLostPrefix.size()));
    }
    EXPECT_GE(lost, 4500u);
    EXPECT_LE(lost, 6000u);
}

TEST(LinuxStatus, OthersAreLoweredAroundARecordedTargetAndKeptTreesNever) {
    const auto target = play(60);
    const auto other = play(60);
    const auto kept = play(60);
    const auto alsoKept = play(60);
    const std::string lowered = "-20.00 dB";  // 0.1 of full volume
    LinuxProcess capture({quillmereProgram(), std::to_string(target->pid()), "0.1", "include", "--duck=others",
                          "--keep=" + std::to_string(kept->pid()), "--keep=" + std::to_string(alsoKept->pid())});
    ASSERT_TRUE(capture.waitForLog("[win-helper] Ducking session tone_player (pid " + std::to_string(other->pid()) +
                                   "): 1 -> 0.1"));
    std::this_thread::sleep_for(1200ms);  // another pass
    EXPECT_EQ(reportedStream(other->pid()).decibels, lowered);
    EXPECT_EQ(reportedStream(target->pid()).decibels, "0.00 dB") << "recorded, not lowered";
    EXPECT_EQ(reportedStream(kept->pid()).decibels, "0.00 dB");
    EXPECT_EQ(reportedStream(alsoKept->pid()).decibels, "0.00 dB") << "every --keep counts";
    EXPECT_EQ(stop(capture), 0);
    EXPECT_EQ(reportedStream(other->pid()).decibels, "0.00 dB");
}

}  // namespace
