// Measures, under Wine against the audio engine double, how long the host waits
//   - from writing a new ratio line to the new volume being set on a ducked session,
//   - from writing "exit" to the volume being restored, and
//   - from writing "exit" to the process having ended (its own teardown included),
// and the last two again while a capture streams and the host has stopped reading its output.
// Run: build/windows/run-under-wine.sh build/windows/bench/ducking_latency.exe [runs]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/clock.h"
#include "support/host_process.h"

namespace {

bool recordHas(const AudioEngineDouble& engine, const std::string& line) {
    const auto lines = engine.recorded(line);
    return !lines.empty();
}

void report(const char* what, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    std::printf("%-40s runs %zu  median %7.1f ms  min %7.1f ms  max %7.1f ms\n", what, samples.size(),
                samples[samples.size() / 2], samples.front(), samples.back());
}

// Writes "exit" and adds the times until the session's volume is back and until the process has
// ended; false when the process ended without putting the volume back.
bool timeExit(HostProcess& host, const AudioEngineDouble& engine, std::vector<double>& restored,
              std::vector<double>& ended) {
    const double start = nowMs();
    host.write("exit\n");
    while (!recordHas(engine, "set_volume a 0.8")) {
        if (WaitForSingleObject(host.handle(), 1) == WAIT_OBJECT_0 && !recordHas(engine, "set_volume a 0.8")) {
            std::fprintf(stderr, "the volume was not restored\n");
            return false;
        }
    }
    restored.push_back(nowMs() - start);
    host.waitForExit();
    ended.push_back(nowMs() - start);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
    std::vector<double> ratioLatency;
    std::vector<double> restoreLatency;
    std::vector<double> exitLatency;
    for (int run = 0; run < runs; ++run) {
        AudioEngineDouble engine("session speakers pid=3999996 id=a volume=0.8\n");
        HostProcess host({{"1234", "0.5"}});
        if (!host.waitForLog("[win-helper] Ducking session pid 3999996: 0.8 -> 0.4")) {
            std::fprintf(stderr, "the session was not ducked\n");
            return 1;
        }
        // Let the engine settle into its wait, so a run measures the wait's reaction time.
        Sleep(150 + 37 * run % 500);
        const double start = nowMs();
        host.write("0.3\n");
        while (!recordHas(engine, "set_volume a 0.24")) {
            Sleep(1);
        }
        ratioLatency.push_back(nowMs() - start);

        Sleep(150 + 53 * run % 500);
        if (!timeExit(host, engine, restoreLatency, exitLatency)) {
            return 1;
        }
    }
    std::vector<double> unreadRestoreLatency;
    std::vector<double> unreadExitLatency;
    for (int run = 0; run < runs; ++run) {
        AudioEngineDouble engine("packet 480\nrepeat\nrealtime\nsession speakers pid=3999996 id=a volume=0.8\n");
        HostProcess host({{"1234", "0.5"}});
        if (!host.waitForLog("[win-helper] Ducking session pid 3999996: 0.8 -> 0.4")) {
            std::fprintf(stderr, "the session was not ducked\n");
            return 1;
        }
        host.stopReading(HostProcess::Pipe::Output);
        Sleep(300 + 53 * run % 500);  // the pipe is full after a few hundred ms
        if (!timeExit(host, engine, unreadRestoreLatency, unreadExitLatency)) {
            return 1;
        }
    }
    report("ratio line -> new volume set", ratioLatency);
    report("\"exit\" -> volume restored", restoreLatency);
    report("\"exit\" -> process ended", exitLatency);
    report("stdout unread: \"exit\" -> restored", unreadRestoreLatency);
    report("stdout unread: \"exit\" -> ended", unreadExitLatency);
    return 0;
}
