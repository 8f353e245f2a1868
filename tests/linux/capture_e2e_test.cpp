// The Linux program against a real sound server (a private PulseAudio daemon with a null sink,
// started by tests/linux/with-pulse.sh): real players, real streams, exact log lines.

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "linux_process.h"
#include "support/tone_measure.h"

namespace {

using namespace std::chrono_literals;

const std::string kStarted = "[win-helper] Windows WASAPI process-excluded loopback capture started.";

std::vector<float> samplesOf(const std::string& bytes, std::size_t from, std::size_t count) {
    std::vector<float> samples;
    for (std::size_t i = from; i < from + count && 2 * i + 1 < bytes.size(); ++i) {
        std::int16_t value;
        std::memcpy(&value, bytes.data() + 2 * i, 2);
        samples.push_back(static_cast<float>(value) / 32767.0f);
    }
    return samples;
}

double rms(const std::vector<float>& samples) {
    double sum = 0.0;
    for (const float value : samples) {
        sum += static_cast<double>(value) * value;
    }
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

// How a player plays: itself, from a child, or written whole at once.
enum class Playing { Itself, FromChild, Whole };

// A player started and its stream open.
std::unique_ptr<LinuxProcess> play(double hz, double amplitude, double seconds, Playing playing = Playing::Itself) {
    std::vector<std::string> args = {tonePlayerProgram(), std::to_string(hz), std::to_string(amplitude),
                                     std::to_string(seconds)};
    if (playing != Playing::Itself) {
        args.emplace_back(playing == Playing::FromChild ? "--child" : "--whole");
    }
    auto player = std::make_unique<LinuxProcess>(args);
    EXPECT_TRUE(player->waitForOutput(8)) << "the player could not open its stream";
    // At full volume, whatever the server remembers for the player from earlier tests: what the
    // capture hears is the stream after its volume.
    const std::string output = player->output();
    const std::string pid = output.substr(output.find(' ') + 1, output.find('\n') - output.find(' ') - 1);
    run("pactl set-sink-input-volume " + reportedStream(std::stoi(pid)).index + " 1.0");
    return player;
}

// Waits until the stream carries sound, lets the streams settle for half a second (the capture's
// jitter buffers grow to the server's bursts), then returns the next second.
std::vector<float> secondOfSound(LinuxProcess& capture) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    std::size_t sounding = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string output = capture.output();
        const std::size_t samples = output.size() / 2;
        if (samples >= 1600 && rms(samplesOf(output, samples - 1600, 1600)) > 0.01) {
            sounding = samples;
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_NE(sounding, 0u) << "no sound reached the stream";
    EXPECT_TRUE(capture.waitForOutput(2 * (sounding + 24000)));
    return samplesOf(capture.output(), sounding + 8000, 16000);
}

// A tone's amplitude from four quarter-second measurements. A gap a busy machine leaves in the
// stream only lowers a window's level: a tone that plays is measured by the upper two windows, one
// that should be absent by the middle two, so that no single window decides either.
enum class Tone { Plays, Absent };
double toneLevel(const std::vector<float>& second, double hz, Tone tone = Tone::Plays) {
    std::vector<double> levels;
    for (std::size_t start = 0; start + 4000 <= second.size(); start += 4000) {
        levels.push_back(tone_measure::amplitudeAt({second.begin() + static_cast<std::ptrdiff_t>(start),
                                                    second.begin() + static_cast<std::ptrdiff_t>(start + 4000)},
                                                   hz, 16000));
    }
    std::sort(levels.begin(), levels.end());
    return tone == Tone::Plays ? (levels[2] + levels[3]) / 2.0 : (levels[1] + levels[2]) / 2.0;
}

int stopAndWait(LinuxProcess& capture) {
    capture.write("exit\n");
    return capture.wait();
}

// With a 1 kHz tone at 0.5 from the target's tree and a 300 Hz tone at 0.1 from another process:
// include mode hears the first alone, exclude mode the second alone, each at its own level
// (unity gain through the mix-down, within `tolerance` of the target's level).
void expectEachModeHearsItsTone(pid_t target, double tolerance = 0.02) {
    struct Case {
        const char* mode;
        double thousand;
        double threeHundred;
    };
    for (const Case& c : {Case{"include", 0.5, 0.0}, Case{"exclude", 0.0, 0.1}}) {
        LinuxProcess capture({quillmereProgram(), std::to_string(target), "1", c.mode});
        ASSERT_TRUE(capture.waitForLog(kStarted)) << c.mode;
        const std::vector<float> second = secondOfSound(capture);
        EXPECT_NEAR(toneLevel(second, 1000, c.thousand > 0 ? Tone::Plays : Tone::Absent), c.thousand, tolerance)
            << c.mode;
        EXPECT_NEAR(toneLevel(second, 300, c.threeHundred > 0 ? Tone::Plays : Tone::Absent), c.threeHundred, 0.004)
            << c.mode;
        const int status = stopAndWait(capture);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.mode;
    }
}

TEST(LinuxCapture, IncludeTakesTheTargetTreeAloneAndExcludeEverythingElse) {
    // The target's tone plays from a child of the target; the other from a process of its own.
    const auto target = play(1000, 0.5, 12, Playing::FromChild);
    const auto other = play(300, 0.1, 12);
    expectEachModeHearsItsTone(target->pid());
}

TEST(LinuxCapture, FollowsAStreamThatStartsLateAndKeepsTimeWhileNothingPlays) {
    // The stream here is always steady: the option that asks for it is taken without a word, the
    // one that asks for the other is unknown.
    LinuxProcess capture({quillmereProgram(), "999999", "1", "--clock=packets", "--clock=steady"});
    ASSERT_TRUE(capture.waitForLog(kStarted));
    const std::vector<std::string> lines = capture.logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("--clock") != std::string::npos; }),
              1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[win-helper] Ignoring unknown option: --clock=packets"),
              lines.end());
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(rms(samplesOf(capture.output(), 0, 16000)), 1e-6) << "silence while nothing plays";
    const auto player = play(440, 0.3, 10);
    const std::vector<float> second = secondOfSound(capture);
    EXPECT_NEAR(toneLevel(second, 440), 0.3, 0.02);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double written = static_cast<double>(capture.output().size()) / 2.0 / 16000.0;
    // The stream follows the clock: as many seconds written as have passed (give or take the
    // pipe and the last tick).
    EXPECT_NEAR(written, elapsed, 0.1);
    EXPECT_EQ(stopAndWait(capture), 0);
}

// Each sound of a tone at hz above `level`, as the lengths in seconds of its spans: 20 ms windows
// 5 ms apart, each counting for the 5 ms about its middle (a window above half the tone's level
// is more than half inside it); a span that begins within half a second of a sound's first is
// the same sound's.
std::vector<std::vector<double>> toneSounds(const std::vector<float>& samples, double hz, double level) {
    constexpr std::size_t kWindow = 320;
    constexpr std::size_t kStep = 80;
    std::vector<std::vector<double>> sounds;
    std::size_t soundStart = 0;
    bool inside = false;
    for (std::size_t start = 0; start + kWindow <= samples.size(); start += kStep) {
        const bool above = tone_measure::amplitudeAt({samples.begin() + static_cast<std::ptrdiff_t>(start),
                                                      samples.begin() + static_cast<std::ptrdiff_t>(start + kWindow)},
                                                     hz, 16000) > level;
        if (above && !inside) {
            if (sounds.empty() || start - soundStart > 8000) {
                sounds.emplace_back();
                soundStart = start;
            }
            sounds.back().push_back(0.0);
        }
        if (above) {
            sounds.back().back() += static_cast<double>(kStep) / 16000.0;
        }
        inside = above;
    }
    return sounds;
}

TEST(LinuxCapture, ExcludeModeHearsEveryShortSoundWholeAndNeverAnExcludedOneWhateverElsePlays) {
    // The target plays a 2.5 kHz tone for two seconds from a child, when told; the others play a
    // quiet tone throughout and three 0.3 s sounds: before the target plays, while it plays, and
    // after it stopped.
    LinuxProcess target(
        {"/bin/sh", "-c",
         "while read -r seconds; do \"" + tonePlayerProgram() + "\" 2500 0.3 \"$seconds\" >/dev/null; done"});
    const auto background = play(300, 0.1, 30);
    LinuxProcess capture({quillmereProgram(), std::to_string(target.pid()), "1", "exclude"});
    ASSERT_TRUE(capture.waitForLog(kStarted));
    secondOfSound(capture);
    const auto notify = [] {
        const auto sound = play(1000, 0.3, 0.3, Playing::Whole);
        EXPECT_EQ(sound->wait(), 0);
    };
    notify();
    target.write("2\n");
    std::this_thread::sleep_for(700ms);
    notify();
    std::this_thread::sleep_for(2s);
    notify();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(stopAndWait(capture), 0);
    target.closeOutput();

    const std::string output = capture.output();
    const std::vector<float> samples = samplesOf(output, 0, output.size() / 2);
    const std::vector<std::vector<double>> sounds = toneSounds(samples, 1000, 0.15);
    ASSERT_EQ(sounds.size(), 3u) << ::testing::PrintToString(sounds);
    // Whole: one span of 0.3 s, measured in 5 ms steps (one step either way).
    for (const std::size_t whole : {0u, 2u}) {
        ASSERT_EQ(sounds[whole].size(), 1u) << whole << ": " << ::testing::PrintToString(sounds);
        EXPECT_GE(sounds[whole][0], 0.2925) << whole << ": before the target plays, and after it stopped";
    }
    // While the target plays each other stream has a recording of its own, which the server
    // starts a moment after the stream (its first 20 to 40 ms are not heard) and which may come
    // in bursts at first.
    EXPECT_GE(std::accumulate(sounds[1].begin(), sounds[1].end(), 0.0), 0.2) << "heard while the target plays";
    EXPECT_TRUE(toneSounds(samples, 2500, 0.01).empty()) << "the target's tone never";
}

TEST(LinuxCapture, EveryEndOfTheRunIsOrderly) {
    {
        LinuxProcess capture({quillmereProgram(), "999999"});
        ASSERT_TRUE(capture.waitForLog(kStarted));
        capture.closeOutput();
        ASSERT_TRUE(capture.waitForLog("[win-helper] Write to stdout failed (pipe closed)"));
        EXPECT_EQ(capture.wait(), 0);
    }
    {
        LinuxProcess capture({quillmereProgram(), "999999"});
        ASSERT_TRUE(capture.waitForLog(kStarted));
        capture.signal(SIGTERM);
        const int status = capture.wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        const std::vector<std::string> lines = capture.logLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "[win-helper] Received signal: SIGTERM"), lines.end());
    }
    {
        // The host ends while the program still captures into the host's pipe.
        LinuxProcess host({"/bin/sh", "-c", "\"$0\" 999999 1 & sleep 1", quillmereProgram()});
        ASSERT_TRUE(host.waitForLog(kStarted));
        EXPECT_TRUE(host.waitForLog("[win-helper] Host process ended; stopping capture."));
        host.waitForEnd();  // the program's end closes the pipes
        const std::vector<std::string> lines = host.logLines();
        EXPECT_EQ(lines.back(), "[win-helper] Restoring audio session volumes...") << "an orderly end";
    }
    {
        LinuxProcess capture({quillmereProgram(), "999999"}, {"PULSE_SERVER=unix:/nonexistent/socket"});
        const int status = capture.wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
        EXPECT_EQ(capture.logLines(),
                  (std::vector<std::string>{"[win-helper] build v3-mingw-uuid-fix",
                                            "[win-helper] Failed to connect to the sound server: Connection refused"}));
    }
}

// A player that talks to PipeWire natively (pw-play) opens a stream that names no process; its
// client does. Such streams exist only on PipeWire's pulse server.
TEST(LinuxCapture, ANativePipeWirePlayersStreamIsItsClientsProcessInEveryUse) {
    if (run("pactl info").find("on PipeWire") == std::string::npos) {
        GTEST_SKIP() << "native PipeWire streams need PipeWire's pulse server";
    }
    const std::string tone = (std::filesystem::temp_directory_path() / "quillmere-native-tone.wav").string();
    run("sox -n -r 48000 -c 2 -b 16 " + tone + " synth 30 sine 1000 vol 0.5");
    // A generous latency: at its default one, pw-play drops out on a busy machine.
    LinuxProcess native({"/usr/bin/pw-play", "--latency=200ms", tone});
    const std::string pid = std::to_string(native.pid());
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (reportedStream(native.pid()).index.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    const std::string index = reportedStream(native.pid()).index;
    ASSERT_FALSE(index.empty()) << "pw-play's stream did not appear";
    run("pactl set-sink-input-volume " + index + " 1.0");
    const auto other = play(300, 0.1, 30);
    // Its tone need only be there: on a busy machine pw-play's own output drops out at times.
    expectEachModeHearsItsTone(native.pid(), 0.35);

    // Another application's capture lowers it under its client's binary name, and puts it back.
    run("pactl set-sink-input-volume " + index + " 0.8");
    {
        LinuxProcess capture({quillmereProgram(), std::to_string(other->pid()), "0.2"});
        ASSERT_TRUE(capture.waitForLog("[win-helper] Ducking session pw-cat (pid " + pid + "): 0.8 -> 0.16"));
        EXPECT_EQ(reportedStream(native.pid()).decibels, "-15.92 dB");
        EXPECT_EQ(stopAndWait(capture), 0);
        EXPECT_EQ(reportedStream(native.pid()).decibels, "-1.94 dB");
    }

    LinuxProcess listing({quillmereProgram(), "--list-sessions"});
    EXPECT_EQ(listing.waitForEnd(), 0);
    EXPECT_NE(listing.output().find("{\"pid\":" + pid + ",\"name\":\"pw-cat\"}"), std::string::npos)
        << listing.output();
}

// The private server's own control (tests/linux/sound-server.sh): stop, start or restart.
void controlServer(const std::string& action) {
    const char* control = std::getenv("QUILLMERE_SERVER_CONTROL");
    ASSERT_NE(control, nullptr) << "run under tests/linux/with-pulse.sh or with-pipewire.sh";
    ASSERT_EQ(std::system((std::string(control) + " " + action).c_str()), 0) << action;
}

// The index of the first line that starts with `prefix`, once there is one (within `timeout`).
std::optional<std::size_t> lineStartingWith(LinuxProcess& process, const std::string& prefix,
                                            std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        const std::vector<std::string> lines = process.logLines();
        for (std::size_t line = 0; line < lines.size(); ++line) {
            if (lines[line].rfind(prefix, 0) == 0) {
                return line;
            }
        }
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

const std::string kLost = "[win-helper] Lost the sound server: Connection terminated";
const std::string kReconnected = "[win-helper] Reconnected to the sound server";

// The server restarts under a running capture: the capture says so, keeps its clock, and finds
// the new server's streams as at its start: a new player is heard and lowered.
TEST(LinuxCapture, ARestartedServerIsFoundAgainAndItsNewStreamsCapturedAndLowered) {
    const auto before = play(440, 0.5, 60);
    LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
    ASSERT_TRUE(capture.waitForLog(kStarted));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(capture.waitForLog("[win-helper] Ducking session tone_player (pid " + std::to_string(before->pid()) +
                                   "): 1 -> 0.2"));
    EXPECT_NEAR(toneLevel(secondOfSound(capture), 440), 0.1, 0.02);
    controlServer("restart");
    ASSERT_TRUE(capture.waitForLog(kReconnected));
    LinuxProcess after({tonePlayerProgram(), "660", "0.5", "60"});
    ASSERT_TRUE(after.waitForOutput(8));
    const std::string prefix = "[win-helper] Ducking session tone_player (pid " + std::to_string(after.pid()) + "): ";
    const std::optional<std::size_t> ducked = lineStartingWith(capture, prefix);
    ASSERT_TRUE(ducked) << "the new server's stream was not lowered";
    const std::vector<float> second = secondOfSound(capture);
    EXPECT_GT(toneLevel(second, 660), 0.01);
    EXPECT_LT(toneLevel(second, 440, Tone::Absent), 0.004);
    // The stream kept its clock while the server was away.
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_NEAR(static_cast<double>(capture.output().size()) / 2.0 / 16000.0, elapsed, 0.15);

    std::vector<std::string> lines = capture.logLines();
    const auto lost = std::find(lines.begin(), lines.end(), kLost);
    const auto reconnected = std::find(lines.begin(), lines.end(), kReconnected);
    ASSERT_NE(lost, lines.end());
    EXPECT_EQ(reconnected - lost, 1);
    EXPECT_LT(reconnected - lines.begin(), static_cast<std::ptrdiff_t>(*ducked));
    // Put back, from the volume the new stream had.
    const std::string volume = lines[*ducked].substr(prefix.size(), lines[*ducked].find(" -> ") - prefix.size());
    EXPECT_EQ(stopAndWait(capture), 0);
    lines = capture.logLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[win-helper] Restored session volume to: " + volume), lines.end());
}

// A server that does not come back within 30 s ends the capture as an orderly end does; the
// lowered stream's entry stays for the next start, since no walk found the server to say it is gone.
TEST(LinuxCapture, AServerThatDoesNotComeBackEndsTheCaptureInOrder) {
    if (run("pactl info").find("on PipeWire") != std::string::npos) {
        GTEST_SKIP() << "the same path as on PulseAudio, where it is tested";
    }
    const auto player = play(440, 0.5, 60);
    LinuxProcess capture({quillmereProgram(), "999999", "0.2"});
    ASSERT_TRUE(capture.waitForLog("[win-helper] Ducking session tone_player (pid " + std::to_string(player->pid()) +
                                   "): 1 -> 0.2"));
    controlServer("stop");
    const bool ended = capture.endsWithin(35s);
    controlServer("start");
    ASSERT_TRUE(ended);
    const int status = capture.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::vector<std::string> lines = capture.logLines();
    const std::vector<std::string> last(lines.end() - 3, lines.end());
    EXPECT_EQ(last, (std::vector<std::string>{kLost, "[win-helper] Failed to reconnect to the sound server",
                                              "[win-helper] Restoring audio session volumes..."}));
    const std::string journals = std::string(std::getenv("XDG_STATE_HOME")) + "/quillmere/ducking";
    EXPECT_NE(run("cat " + journals + "/*").find("\npending 1 0.200000003 sink-input:"), std::string::npos)
        << run("ls -l " + journals);
}

}  // namespace
