// Ducking on a real sound server, seen through the server's own volume report (pactl), on
// every way the run can end.

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "linux_process.h"

namespace {

// Sets the player's stream to 0.8; returns the line a capture with ratio 0.2 writes when it lowers it.
std::string atEightTenths(const LinuxProcess& player) {
    run("pactl set-sink-input-volume " + reportedStream(player.pid()).index + " 0.8");
    return "[win-helper] Ducking session tone_player (pid " + std::to_string(player.pid()) + "): 0.8 -> 0.16";
}

// The player's volume once it is back at `back` (0.8 by default), or as it still is after two seconds.
std::string decibelsOnceBack(const LinuxProcess& player, const std::string& back = "-1.94 dB") {
    std::string decibels;
    for (int poll = 0; poll < 100 && decibels != back; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        decibels = reportedStream(player.pid()).decibels;
    }
    return decibels;
}

// Both die: the guardian first, so that nothing puts the volume back.
void killWithItsGuardian(LinuxProcess& capture) {
    const std::string guardian = "--guardian " + std::to_string(capture.pid()) + " ";
    for (int attempt = 0; attempt < 100 && run("pgrep -f -- '" + guardian + "'").empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run("pkill -KILL -f -- '" + guardian + "'");
    capture.signal(SIGKILL);
    capture.wait();
}

struct ProcessEntry {
    pid_t pid;
    pid_t parent;
    pid_t session;
};

// Every process, as /proc shows it now.
std::vector<ProcessEntry> processes() {
    std::vector<ProcessEntry> entries;
    DIR* proc = opendir("/proc");
    while (const dirent* item = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(item->d_name));
        std::ifstream file(std::string("/proc/") + item->d_name + "/stat");
        std::string stat;
        std::getline(file, stat);
        ProcessEntry entry = {pid, 0, 0};
        const std::size_t end = stat.rfind(')');  // after the command name, which may hold anything
        if (pid > 0 && end != std::string::npos &&
            std::sscanf(stat.c_str() + end + 1, " %*c %d %*d %d", &entry.parent, &entry.session) == 2) {
            entries.push_back(entry);
        }
    }
    closedir(proc);
    return entries;
}

TEST(LinuxDucking, LowersOthersAndPutsThemBackOnEveryEnd) {
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    const std::string index = reportedStream(player.pid()).index;
    ASSERT_FALSE(index.empty());
    const std::string label = "tone_player (pid " + std::to_string(player.pid()) + ")";
    struct End {
        const char* name;
        int signal;  // 0: the stop command; -1: the host closes the stream
    };
    for (const End& end : {End{"stdin", 0}, End{"closed output", -1}, End{"SIGINT", SIGINT}, End{"SIGTERM", SIGTERM},
                           End{"SIGHUP", SIGHUP}}) {
        const std::string ducked = atEightTenths(player);
        ASSERT_EQ(reportedStream(player.pid()).decibels, "-1.94 dB");
        LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
        ASSERT_TRUE(capture.waitForLog(ducked)) << end.name;
        EXPECT_EQ(reportedStream(player.pid()).decibels, "-15.92 dB") << end.name;
        if (end.signal == 0) {
            capture.write("0.5\n");
            ASSERT_TRUE(capture.waitForLog("[win-helper] Updating ducking session " + label + ": 0.8 -> 0.4"));
            EXPECT_EQ(reportedStream(player.pid()).decibels, "-7.96 dB");
            capture.write("exit\n");
        } else if (end.signal < 0) {
            capture.closeOutput();
        } else {
            capture.signal(end.signal);
        }
        const int status = capture.wait();
        EXPECT_TRUE(end.signal > 0 ? WIFSIGNALED(status) && WTERMSIG(status) == end.signal
                                   : WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << end.name;
        const std::vector<std::string> lines = capture.logLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "[win-helper] Restored session volume to: 0.8"), lines.end())
            << end.name;
        EXPECT_EQ(reportedStream(player.pid()).decibels, "-1.94 dB") << end.name;
    }
}

TEST(LinuxDucking, EveryStopPutsTheVolumeBackWhileTheHostReadsNeitherOutput) {
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    using Pipe = LinuxProcess::Pipe;
    struct Case {
        const char* name;
        Pipe unread;
        int signal;  // 0: the stop command
    };
    for (const Case& c :
         {Case{"stdout unread, exit", Pipe::Output, 0}, Case{"stdout unread, SIGTERM", Pipe::Output, SIGTERM},
          Case{"stderr full, exit", Pipe::Error, 0}, Case{"stderr full, SIGTERM", Pipe::Error, SIGTERM}}) {
        const std::string ducked = atEightTenths(player);
        LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
        ASSERT_TRUE(capture.waitForLog(ducked)) << c.name;
        capture.stopReading(c.unread);
        if (c.unread == Pipe::Error) {
            for (int command = 0; command < 300; ++command) {  // a line each: far more than a page
                capture.write(command % 2 == 0 ? "0.25\n" : "0.2\n");
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a page of samples is 128 ms
        }
        if (c.signal == 0) {
            capture.write("exit\n");
        } else {
            capture.signal(c.signal);
        }
        EXPECT_EQ(decibelsOnceBack(player), "-1.94 dB") << c.name;
        ASSERT_TRUE(capture.endsWithin(std::chrono::seconds(5))) << c.name;
        const int status = capture.waitForEnd();
        EXPECT_TRUE(c.signal != 0 ? WIFSIGNALED(status) && WTERMSIG(status) == c.signal
                                  : WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << c.name;
        // Lines are dropped, never cut, when the host does not read them.
        const std::vector<std::string> lines = capture.logLines();
        for (const std::string& line : lines) {
            EXPECT_EQ(line.rfind("[win-helper] ", 0), 0u) << c.name << ": " << line;
        }
        if (c.unread == Pipe::Output) {
            EXPECT_NE(std::find(lines.begin(), lines.end(), "[win-helper] Restored session volume to: 0.8"),
                      lines.end())
                << c.name;
        }
    }
}

TEST(LinuxDucking, AStreamThatEndsWhileLoweredLeavesTheApplicationsNextStreamAtItsOwnVolume) {
    // The server remembers each application's volume for its next stream; the lowered one must
    // not become that memory.
    {
        LinuxProcess player({tonePlayerProgram(), "440", "0.3", "1.5"});
        ASSERT_TRUE(player.waitForOutput(8));
        const std::string ducked = atEightTenths(player);
        LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
        ASSERT_TRUE(capture.waitForLog(ducked));
        player.wait();  // it ends while lowered
        capture.write("exit\n");
        EXPECT_EQ(capture.wait(), 0);
    }
    LinuxProcess next({tonePlayerProgram(), "440", "0.3", "5"});
    ASSERT_TRUE(next.waitForOutput(8));
    EXPECT_EQ(reportedStream(next.pid()).decibels, "-1.94 dB");
}

TEST(LinuxDucking, AnApplicationsNewStreamThatStartsAtTheLoweredLevelIsLoweredFromTheApplicationsOwnVolume) {
    // The server starts each new stream at its memory of the application's volume, which a
    // lowering can leave at the lowered level: the new stream must not take that for its own.
    LinuxProcess first({tonePlayerProgram(), "440", "0.3", "8"});
    ASSERT_TRUE(first.waitForOutput(8));
    const std::string ducked = atEightTenths(first);
    LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
    ASSERT_TRUE(capture.waitForLog(ducked)) << ::testing::PrintToString(capture.logLines());
    LinuxProcess next({tonePlayerProgram(), "440", "0.3", "8"});
    ASSERT_TRUE(next.waitForOutput(8));
    run("pactl set-sink-input-volume " + reportedStream(next.pid()).index + " 0.16");  // as the memory had it
    EXPECT_TRUE(capture.waitForLog("[win-helper] Ducking session tone_player (pid " + std::to_string(next.pid()) +
                                   "): 0.8 -> 0.16"))
        << ::testing::PrintToString(capture.logLines());
    capture.write("exit\n");
    EXPECT_EQ(capture.wait(), 0);
    EXPECT_EQ(reportedStream(next.pid()).decibels, "-1.94 dB");
    next.signal(SIGKILL);
    next.wait();
    LinuxProcess later({tonePlayerProgram(), "440", "0.3", "5"});
    ASSERT_TRUE(later.waitForOutput(8));
    EXPECT_EQ(reportedStream(later.pid()).decibels, "-1.94 dB") << "the application's memory is its own volume";
}

TEST(LinuxDucking, AKilledRunsVolumesComeBackThroughItsGuardian) {
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    const std::string ducked = atEightTenths(player);
    LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
    ASSERT_TRUE(capture.waitForLog(ducked));
    capture.signal(SIGKILL);
    capture.wait();
    // The guardian notices at once; a second is plenty.
    EXPECT_EQ(decibelsOnceBack(player), "-1.94 dB");
}

TEST(LinuxDucking, StreamsThatComeAndGoNeverGrowTheJournalPastItsReadersAndAKilledRunsComeBack) {
    // Applications choose their names, which the server's memory of their volumes is filed by:
    // this many streams with such names, each lowered and gone, are more than a journal of every
    // one of them could hold.
    LinuxProcess radio({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(radio.waitForOutput(8));
    const std::string ducked = atEightTenths(radio);
    LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
    ASSERT_TRUE(capture.waitForLog(ducked));
    // Each stream lives long enough for a pass to find it, most of the time; one that ended
    // first is not counted.
    const std::string name(44000, 'n');
    const auto lowered = [&] {
        const std::vector<std::string> lines = capture.logLines();
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& line) { return line.find("): 1 -> 0.2") != std::string::npos; });
    };
    for (int wave = 0; wave < 12 && lowered() < 28; ++wave) {
        std::vector<std::unique_ptr<LinuxProcess>> players;
        for (int player = 0; player < 10; ++player) {
            players.push_back(std::make_unique<LinuxProcess>(
                std::vector<std::string>{tonePlayerProgram(), "440", "0.3", "3"},
                std::vector<std::string>{"PULSE_PROP_OVERRIDE=application.name='" + std::to_string(wave) + "-" +
                                         std::to_string(player) + name + "'"}));
        }
        for (const auto& player : players) {
            player->wait();
        }
    }
    ASSERT_GE(lowered(), 28) << "journaled all at once, they would pass its readers' limit";
    capture.signal(SIGKILL);
    capture.wait();
    EXPECT_EQ(decibelsOnceBack(radio), "-1.94 dB") << "the guardian read the journal";
    for (const std::string& line : capture.logLines()) {
        EXPECT_EQ(line.find("unreadable"), std::string::npos) << line;
    }
    const std::string folder = std::string(std::getenv("XDG_STATE_HOME")) + "/quillmere/ducking";
    EXPECT_EQ(run("ls " + folder + " | grep -c unreadable"), "0\n");
}

TEST(LinuxDucking, WithNoFolderForItsJournalNothingIsLoweredAndTheFolderTriedIsSaidOnce) {
    // The state folder is a file: no folder can be made in it.
    const std::string state = std::string(std::getenv("XDG_STATE_HOME")) + "-file";
    run("rm -rf " + state + " && touch " + state);
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    atEightTenths(player);
    LinuxProcess capture({quillmereProgram(), "999999", "0.2"}, {"XDG_STATE_HOME=" + state});
    const std::string failed = "[win-helper] Failed to write ducking journal: " + state +
                               "/quillmere/ducking error=" + std::to_string(ENOTDIR);
    ASSERT_TRUE(capture.waitForLog(failed)) << ::testing::PrintToString(capture.logLines());
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // more passes
    EXPECT_EQ(reportedStream(player.pid()).decibels, "-1.94 dB");
    capture.write("exit\n");
    EXPECT_EQ(capture.wait(), 0);
    const std::vector<std::string> lines = capture.logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), failed), 1);
    run("rm -f " + state);
}

TEST(LinuxDucking, AStreamTheUserBoostedAboveFullComesBackAfterAKill) {
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    run("pactl set-sink-input-volume " + reportedStream(player.pid()).index + " 1.5");
    ASSERT_EQ(reportedStream(player.pid()).decibels, "3.52 dB");
    LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
    ASSERT_TRUE(capture.waitForLog("[win-helper] Ducking session tone_player (pid " + std::to_string(player.pid()) +
                                   "): 1.5 -> 0.3"));
    capture.signal(SIGKILL);
    capture.wait();
    EXPECT_EQ(decibelsOnceBack(player, "3.52 dB"), "3.52 dB");
}

TEST(LinuxDucking, AFifoNamedLikeAJournalIsSetAsideUnreadAndTheCaptureGoesOn) {
    const std::string folder = std::string(std::getenv("XDG_STATE_HOME")) + "/quillmere/ducking";
    run("mkdir -p " + folder + " && mkfifo " + folder + "/journal2-7-8.journal " + folder + "/journal-5-6.txt");
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    const std::string ducked = atEightTenths(player);
    LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
    ASSERT_TRUE(capture.waitForLog(ducked));
    EXPECT_TRUE(capture.waitForOutput(3200)) << "it captures";
    capture.write("exit\n");
    EXPECT_EQ(capture.wait(), 0);
    const std::vector<std::string> lines = capture.logLines();
    for (const char* name : {"/journal2-7-8.journal", "/journal-5-6.txt"}) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "[win-helper] Ignoring unreadable ducking journal: " + folder + name),
                  1)
            << name;
        EXPECT_EQ(run("test -p " + folder + name + ".unreadable && echo fifo"), "fifo\n") << name;
    }
    run("rm -f " + folder + "/*.unreadable");
}

TEST(LinuxDucking, AHostsWholeTreeProcessGroupOrSessionKilledLeavesTheGuardianToPutTheVolumeBack) {
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    for (const char* end : {"every descendant by parent id", "process group", "session"}) {
        const std::string ducked = atEightTenths(player);
        // A host in a session and process group of its own (setsid execs it in place), with
        // the program as its child.
        LinuxProcess host(
            {"/usr/bin/setsid", "/bin/sh", "-c", "\"$@\"; exit", "host", quillmereProgram(), "999999", "0.2"});
        ASSERT_TRUE(host.waitForLog(ducked)) << end;
        const std::vector<ProcessEntry> all = processes();
        std::vector<pid_t> doomed;
        if (end[0] == 'e') {
            std::vector<pid_t> below = {host.pid()};
            for (std::size_t next = 0; next < below.size(); ++next) {
                for (const ProcessEntry& entry : all) {
                    if (entry.parent == below[next]) {
                        below.push_back(entry.pid);
                        doomed.push_back(entry.pid);
                    }
                }
            }
        } else if (end[0] == 'p') {
            doomed.push_back(-host.pid());
        } else {
            for (const ProcessEntry& entry : all) {
                if (entry.session == host.pid()) {
                    doomed.push_back(entry.pid);
                }
            }
        }
        ASSERT_FALSE(doomed.empty()) << end;
        for (const pid_t pid : doomed) {
            kill(pid, SIGKILL);
        }
        host.wait();
        EXPECT_EQ(decibelsOnceBack(player), "-1.94 dB") << end;
    }
}

TEST(LinuxDucking, TheNextStartPutsBackWhatAKilledRunAndItsGuardianLeftLowered) {
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    const std::string ducked = atEightTenths(player);
    {
        LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
        ASSERT_TRUE(capture.waitForLog(ducked));
        killWithItsGuardian(capture);
    }
    ASSERT_EQ(reportedStream(player.pid()).decibels, "-15.92 dB");
    LinuxProcess next({quillmereProgram(), "999999", "1"});
    EXPECT_TRUE(next.waitForLog("[win-helper] Restored session volume left lowered by an earlier run to: 0.8"));
    EXPECT_EQ(reportedStream(player.pid()).decibels, "-1.94 dB");
    next.write("exit\n");
    EXPECT_EQ(next.wait(), 0);
}

TEST(LinuxDucking, AStreamThatComesBackAfterAKilledRunIsFoundByItsApplication) {
    {
        LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
        ASSERT_TRUE(player.waitForOutput(8));
        const std::string ducked = atEightTenths(player);
        LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
        ASSERT_TRUE(capture.waitForLog(ducked));
        killWithItsGuardian(capture);
    }  // the player ends while lowered
    // It comes back with a new stream, at the volume the killed run set (what the server's memory
    // of the application held, on a server whose memory took the lowered volume).
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    run("pactl set-sink-input-volume " + reportedStream(player.pid()).index + " 0.16");
    LinuxProcess next({quillmereProgram(), "999999", "0.2"});
    EXPECT_TRUE(next.waitForLog("[win-helper] Restored session volume left lowered by an earlier run to: 0.8"))
        << ::testing::PrintToString(next.logLines());
    EXPECT_TRUE(next.waitForLog("[win-helper] Ducking session tone_player (pid " + std::to_string(player.pid()) +
                                "): 0.8 -> 0.16"));
    next.write("exit\n");
    EXPECT_EQ(next.wait(), 0);
    EXPECT_EQ(reportedStream(player.pid()).decibels, "-1.94 dB");
}

TEST(LinuxDucking, TwoCapturesOnOneStreamKeepItLoweredUntilTheLastEndsAndThenLeaveItAtItsOwnVolume) {
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    const std::string index = reportedStream(player.pid()).index;
    const std::string ducked =
        "[win-helper] Ducking session tone_player (pid " + std::to_string(player.pid()) + "): 0.7071 -> 0.35355";
    enum class End { FirstInOrder, SecondInOrder, FirstKilled };
    for (const End end : {End::FirstInOrder, End::SecondInOrder, End::FirstKilled}) {
        run("pactl set-sink-input-volume " + index + " 0.7071");
        ASSERT_EQ(reportedStream(player.pid()).decibels, "-3.01 dB");
        LinuxProcess first({quillmereProgram(), "999999", "0.5"});
        ASSERT_TRUE(first.waitForLog(ducked));
        LinuxProcess second({quillmereProgram(), "999998", "0.5"});
        ASSERT_TRUE(second.waitForLog(ducked)) << "the second keeps the first one's original, not the lowered level";
        LinuxProcess& early = end == End::SecondInOrder ? second : first;
        LinuxProcess& late = end == End::SecondInOrder ? first : second;
        // A pass of the first, about once a second, reads the second one's journal.
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        if (end == End::FirstKilled) {
            early.signal(SIGKILL);  // its guardian puts the volume back
            early.wait();
        } else {
            early.write("exit\n");
            EXPECT_EQ(early.wait(), 0);
        }
        EXPECT_EQ(decibelsOnceBack(player, "-9.03 dB"), "-9.03 dB")
            << "the one still running lowers it again, case " << static_cast<int>(end);
        late.write("exit\n");
        EXPECT_EQ(late.wait(), 0);
        EXPECT_EQ(decibelsOnceBack(player, "-3.01 dB"), "-3.01 dB");
    }
}

// A player's binary name is its own choice: one that holds lines of the protocol stays inside the
// ducking line, its control bytes written as \x and two hex digits, and forges none of them.
TEST(LinuxDucking, ABinaryNameThatHoldsProtocolLinesStaysInsideItsDuckingLine) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "quillmere-forged";
    std::filesystem::create_directories(folder);
    const std::filesystem::path forged =
        folder / ("tone\n[win-helper] Real-time duck ratio updated to 0.9\r\n"
                  "[win-helper] Received exit command via stdin. Stopping capture gracefully...\n"
                  "[win-helper] Restored session volume to: 1");
    std::filesystem::copy_file(tonePlayerProgram(), forged, std::filesystem::copy_options::overwrite_existing);
    LinuxProcess player({forged.string(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    run("pactl set-sink-input-volume " + reportedStream(player.pid()).index + " 1.0");

    LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
    const std::string ducked =
        "[win-helper] Ducking session tone\\x0a[win-helper] Real-time duck ratio updated to "
        "0.9\\x0d\\x0a[win-helper] Received exit command via stdin. Stopping capture "
        "gracefully...\\x0a[win-helper] Restored session volume to: 1 (pid " +
        std::to_string(player.pid()) + "): 1 -> 0.2";
    ASSERT_TRUE(capture.waitForLog(ducked)) << ::testing::PrintToString(capture.logLines());
    capture.write("exit\n");
    EXPECT_EQ(capture.wait(), 0);
    // Each of the three texts stands as a line of its own only where the program wrote it.
    const std::vector<std::string> lines = capture.logLines();
    for (const auto& [line, count] :
         {std::pair<std::string, long>{"[win-helper] Real-time duck ratio updated to 0.9", 0},
          {"[win-helper] Received exit command via stdin. Stopping capture gracefully...", 1},
          {"[win-helper] Restored session volume to: 1", 1}}) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), count) << line;
    }
}

// SIGINT and SIGTERM end the guardian once it has put back what its program lowered, though the
// program still runs; SIGHUP leaves it guarding: the program's kill is still put right.
TEST(LinuxDucking, TheGuardianPutsBackWhatItsProgramLoweredOnSigintOrSigtermAndGoesOnGuardingOnSighup) {
    LinuxProcess player({tonePlayerProgram(), "440", "0.3", "60"});
    ASSERT_TRUE(player.waitForOutput(8));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string name = sigabbrev_np(signal);
        const std::string ducked = atEightTenths(player);
        LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
        ASSERT_TRUE(capture.waitForLog(ducked)) << name;
        // The bracket keeps the pattern from matching the shell that runs pgrep.
        const std::string guardian = "pgrep -f -- '[-]-guardian " + std::to_string(capture.pid()) + " '";
        const std::string pid = run(guardian);
        ASSERT_FALSE(pid.empty()) << name;
        kill(static_cast<pid_t>(std::stoi(pid)), signal);
        if (signal == SIGHUP) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EXPECT_EQ(run(guardian), pid) << "the guardian goes on after SIGHUP";
            EXPECT_EQ(reportedStream(player.pid()).decibels, "-15.92 dB");
            capture.signal(SIGKILL);
        }
        EXPECT_EQ(decibelsOnceBack(player), "-1.94 dB") << name;
        for (int poll = 0; poll < 100 && !run(guardian).empty(); ++poll) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(run(guardian), "") << "the guardian has ended after " << name;
        if (signal != SIGHUP) {
            capture.write("exit\n");
        }
        capture.wait();
    }
}

}  // namespace
