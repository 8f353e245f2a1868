// What the switches between a sink's whole monitor and its streams' own recordings cost the
// audio that is captured (run it under tests/linux/with-pulse.sh, or with-pipewire.sh). A player
// plays a 300 Hz tone throughout; the capture, in exclude mode with --status, has as its target a
// shell that starts a 2.5 kHz player for one second every three seconds, so that each round has
// two switches (the target's stream appears, and leaves). Reports each gap in the 300 Hz tone
// (20 ms windows 5 ms apart below half its level) after a 2 s warm-up, the "Audio lost" lines,
// and whether the target's tone was ever heard.
//
//   tests/linux/with-pulse.sh build/bench/pulse build/bench/bench/switch_loss_linux [ROUNDS] [PROGRAM]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "linux/linux_process.h"
#include "support/tone_measure.h"

namespace {

constexpr std::size_t kWindow = 320;  // 20 ms at 16 kHz
constexpr std::size_t kStep = 80;     // 5 ms

// The windows' levels of a tone at hz, one per step.
std::vector<double> levels(const std::vector<float>& samples, double hz) {
    std::vector<double> out;
    for (std::size_t start = 0; start + kWindow <= samples.size(); start += kStep) {
        out.push_back(tone_measure::amplitudeAt({samples.begin() + static_cast<std::ptrdiff_t>(start),
                                                 samples.begin() + static_cast<std::ptrdiff_t>(start + kWindow)},
                                                hz, 16000));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string program = argc > 2 ? argv[2] : quillmereProgram();
    LinuxProcess background({tonePlayerProgram(), "300", "0.3", std::to_string(3 * rounds + 10)});
    LinuxProcess target(
        {"/bin/sh", "-c",
         "while read -r seconds; do \"" + tonePlayerProgram() + "\" 2500 0.3 \"$seconds\" >/dev/null; done"});
    if (!background.waitForOutput(8)) {
        std::fprintf(stderr, "switch_loss_linux: the player did not start\n");
        return 1;
    }
    LinuxProcess capture({program, std::to_string(target.pid()), "1", "exclude", "--status"});
    std::this_thread::sleep_for(3s);
    for (int round = 0; round < rounds; ++round) {
        target.write("1\n");
        std::this_thread::sleep_for(3s);
    }
    capture.write("exit\n");
    capture.wait();
    target.closeOutput();

    const std::string output = capture.output();
    std::vector<float> samples(output.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::int16_t value;
        std::memcpy(&value, output.data() + 2 * i, 2);
        samples[i] = static_cast<float>(value) / 32768.0f;
    }
    const std::vector<double> background300 = levels(samples, 300);
    const std::vector<double> target2500 = levels(samples, 2500);
    const std::size_t warmUp = 2 * 16000 / kStep;
    std::vector<double> gaps;
    std::size_t run = 0;
    for (std::size_t i = warmUp; i < background300.size(); ++i) {
        if (background300[i] < 0.15) {
            ++run;
        } else if (run > 0) {
            gaps.push_back(static_cast<double>(run * kStep) / 16.0);
            run = 0;
        }
    }
    std::printf("rounds %d (%d switches), stream %.1f s\n", rounds, 2 * rounds,
                static_cast<double>(samples.size()) / 16000.0);
    std::printf("gaps in the 300 Hz tone (ms):");
    for (const double gap : gaps) {
        std::printf(" %.0f", gap);
    }
    std::vector<double> perSwitch = gaps;
    perSwitch.resize(static_cast<std::size_t>(2 * rounds), 0.0);  // a switch without a gap lost nothing
    std::sort(perSwitch.begin(), perSwitch.end());
    std::printf("\nper switch: median %.0f ms, worst %.0f ms\n", perSwitch[perSwitch.size() / 2], perSwitch.back());
    std::printf("\"Audio lost\" lines:");
    for (const std::string& line : capture.logLines()) {
        if (line.find("Audio lost") != std::string::npos) {
            std::printf(" %s;", line.c_str() + line.find(':') + 2);
        }
    }
    std::printf("\nthe target's tone at most: %.4f\n", *std::max_element(target2500.begin(), target2500.end()));
    return 0;
}
