// The stream's length against wall time over a long capture with silences and a drifting engine
// clock, by default and with --clock=steady: both programs run at once under Wine (the second
// started once the first has written its format line), each against its own copy of the audio
// engine double's schedule, so the run takes the capture's length plus a few seconds, not twice
// it.
//
// The schedule, in minutes: 15 s without packets, then 45 s of a 440 Hz tone in 10 ms packets
// of 48 kHz stereo float, whose first packet is a marker (a steady 0.9). The engine's sample
// clock runs 1000 ppm slow in the first, third, ... minute and 1000 ppm fast in the second,
// fourth, ...; its device position goes on over the silence in the second, fourth, ... only.
// Reported for each program: the stream's length against the time from the client's start (the
// double's IAudioClient::Start, from which the steady stream counts) to the stop, and the time
// from the format line to the stop; where each minute's marker lands against the first one's
// compared with their stamps, and the clock adjustment lines.
//
//   build/windows/run-under-wine.sh build/windows/bench/stream_clock.exe 600

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/host_process.h"

namespace {

constexpr int kSilenceSeconds = 15;
constexpr int kToneSeconds = 45;
constexpr int kPpm = 1000;
constexpr std::int16_t kMarker = 29490;  // 0.9 x 32767, above any sample of the 0.5 tone
const std::string kFormatLine = "[win-helper] Format: 48000Hz, 2 channels, 32 bits, float";
const std::string kAdjustedLine = "[win-helper] Stream clock adjusted by ";

double secondsOf(long long counter) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter) / static_cast<double>(frequency.QuadPart);
}

double secondsNow() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return secondsOf(counter.QuadPart);
}

std::string schedule(int minutes) {
    std::string script = "mix_format ext-float 48000 2 32\nrealtime\n";
    for (int minute = 0; minute < minutes; ++minute) {
        script += "pause " + std::to_string(kSilenceSeconds * 1000) + (minute % 2 == 1 ? " advance\n" : "\n");
        script += "drift " + std::to_string(minute % 2 == 0 ? kPpm : -kPpm) + "\n";
        script += "packet 480 samples 0.9\n";
        for (int packet = 1; packet < kToneSeconds * 100; ++packet) {
            script += "packet 480 tone 440 0.5\n";
        }
    }
    return script;
}

// Where each marker's stretch starts, in samples.
std::vector<std::size_t> markerOnsets(const std::string& output) {
    std::vector<std::size_t> onsets;
    std::int16_t previous = 0;
    for (std::size_t i = 0; i + 1 < output.size(); i += 2) {
        std::int16_t sample;
        std::memcpy(&sample, output.data() + i, 2);
        if (sample == kMarker && previous != kMarker) {
            onsets.push_back(i / 2);
        }
        previous = sample;
    }
    return onsets;
}

// A marker's stamp against the first one's, in seconds: whole minutes, each minute's tone
// longer or shorter by the drift of the minute before.
double stampedAfterFirst(int minute) {
    double seconds = 0;
    for (int before = 0; before < minute; ++before) {
        const double stretch = 1.0 + (before % 2 == 0 ? kPpm : -kPpm) * 1e-6;
        seconds += kToneSeconds * stretch + kSilenceSeconds;
    }
    return seconds;
}

struct Run {
    const char* name;
    std::vector<std::string> args;
    std::unique_ptr<HostProcess> host;
    double startAt = 0;
    double formatAt = 0;
    double stopAt = 0;
};

void report(const Run& run, int minutes) {
    const std::string output = run.host->output();
    const double streamSeconds = static_cast<double>(output.size() / 2) / 16000.0;
    const double wallSeconds = run.stopAt - run.startAt;
    std::printf("%s: stream %.3f s, client's start to stop %.3f s, stream - wall %+.1f ms\n", run.name, streamSeconds,
                wallSeconds, (streamSeconds - wallSeconds) * 1000.0);
    std::printf("  format line to stop %.3f s\n", run.stopAt - run.formatAt);
    const std::vector<std::size_t> onsets = markerOnsets(output);
    if (!onsets.empty()) {
        std::printf("  first marker: %.3f s into the stream, %.3f s after the client's start by its stamp\n",
                    static_cast<double>(onsets[0]) / 16000.0, static_cast<double>(kSilenceSeconds));
    }
    double worst = 0;
    for (std::size_t minute = 1; minute < onsets.size(); ++minute) {
        const double inStream = static_cast<double>(onsets[minute] - onsets[0]) / 16000.0;
        const double error = (inStream - stampedAfterFirst(static_cast<int>(minute))) * 1000.0;
        worst = std::max(worst, std::fabs(error));
        if (minute + 1 == onsets.size()) {
            std::printf(
                "  marker of minute %zu: %.3f s after the first in the stream, %.3f s by its stamp (%+.1f ms)\n",
                minute + 1, inStream, stampedAfterFirst(static_cast<int>(minute)), error);
        }
    }
    std::printf("  markers found: %zu of %d, worst against their stamps: %.1f ms\n", onsets.size(), minutes, worst);
    int inserted = 0;
    int dropped = 0;
    for (const std::string& line : run.host->logLines()) {
        if (line == kAdjustedLine + "20 ms") {
            ++inserted;
        } else if (line == kAdjustedLine + "-20 ms") {
            ++dropped;
        }
    }
    std::printf("  clock adjustment lines: %d x 20 ms of silence, %d x -20 ms of audio\n", inserted, dropped);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const int minutes = std::max(1, seconds / 60);
    const std::string script = schedule(minutes);
    AudioEngineDouble engine(script);
    Run runs[] = {{"default", {"1234"}, nullptr, 0, 0, 0},
                  {"--clock=steady", {"1234", "--clock=steady"}, nullptr, 0, 0, 0}};
    for (Run& run : runs) {
        run.host = std::make_unique<HostProcess>(HostProcess::Options(run.args));
        if (!run.host->waitForLog(kFormatLine, 60000)) {
            std::printf("%s: no format line\n", run.name);
            return 1;
        }
        run.formatAt = secondsNow();
    }
    // The double records each client's start, in the order the programs started.
    const std::vector<std::string> starts = engine.recorded("stream_start ");
    if (starts.size() != 2) {
        std::printf("%zu client starts recorded\n", starts.size());
        return 1;
    }
    for (std::size_t i = 0; i < starts.size(); ++i) {
        runs[i].startAt = secondsOf(std::atoll(starts[i].c_str() + std::strlen("stream_start ")));
    }
    const double capture = minutes * 60.0;
    for (Run& run : runs) {
        const double left = run.formatAt + capture - secondsNow();
        if (left > 0) {
            Sleep(static_cast<DWORD>(left * 1000.0));
        }
        run.host->write("exit\n");
        run.stopAt = secondsNow();
    }
    bool ok = true;
    for (Run& run : runs) {
        ok = run.host->waitForExit(30000) == 0 && ok;
    }
    std::printf("%d minutes: %d s without packets and %d s of tone each; sample clock %d ppm slow, then fast\n",
                minutes, kSilenceSeconds, kToneSeconds, kPpm);
    for (const Run& run : runs) {
        report(run, minutes);
    }
    std::printf("%s\n", ok ? "result: ok" : "result: FAILED");
    return ok ? 0 : 1;
}
