// Ducking on a real sound server, seen through the server's own volume report (pactl), on
// every way the run can end.

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "linux_process.h"

namespace {

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, got);
        }
        pclose(pipe);
    }
    return output;
}

// The sink input of a process, as pactl reports it: its index and its volume in dB ("-1.94 dB").
struct Reported {
    std::string index;
    std::string decibels;
};

Reported reportedStream(pid_t pid) {
    std::istringstream report(run("pactl list sink-inputs"));
    Reported current;
    Reported found;
    for (std::string line; std::getline(report, line);) {
        if (line.rfind("Sink Input #", 0) == 0) {
            current = {line.substr(12), ""};
        } else if (line.find("\tVolume: ") == 0) {
            const std::size_t end = line.find(" dB");
            const std::size_t start = line.rfind("/ ", end);
            current.decibels = line.substr(start + 2, end + 3 - start - 2);
        } else if (line.find("application.process.id = \"" + std::to_string(pid) + "\"") != std::string::npos) {
            found = current;
        }
    }
    return found;
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
        run("pactl set-sink-input-volume " + index + " 0.8");
        ASSERT_EQ(reportedStream(player.pid()).decibels, "-1.94 dB");
        LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
        ASSERT_TRUE(capture.waitForLog("[win-helper] Ducking session " + label + ": 0.8 -> 0.16")) << end.name;
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
        EXPECT_EQ(capture.logLines().back(), "[win-helper] Restored session volume to: 0.8") << end.name;
        EXPECT_EQ(reportedStream(player.pid()).decibels, "-1.94 dB") << end.name;
    }
}

}  // namespace
