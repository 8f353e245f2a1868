// Measures, under Wine against the audio engine double, how long a lowered volume stays lowered
// after the program is killed: from the kill to the guardian having put the volume back. Two
// kills in alternating runs: the program alone (TerminateProcess, as a host's child.kill() does),
// and every process below this one, the host, by parent id at once (as taskkill /T, "End
// process tree" and npm's tree-kill do). Also the time from the program's start to its first
// lowering, which includes the wait for the guardian's starter. The double keeps its volumes in
// a state file.
// Run: build/windows/run-under-wine.sh build/windows/bench/kill_restore.exe [runs of each kill]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/clock.h"
#include "support/host_process.h"
#include "support/process_tree.h"

namespace {

bool restored(const std::string& statePath) {
    std::FILE* file = std::fopen(statePath.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    char id[64];
    float volume = 0.0f;
    const bool read = std::fscanf(file, "%63s %f", id, &volume) == 2;
    std::fclose(file);
    return read && volume == 0.8f;
}

void report(const char* figure, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    std::printf("%-46s runs %zu  median %7.1f ms  min %7.1f ms  worst %7.1f ms\n", figure, samples.size(),
                samples[samples.size() / 2], samples.front(), samples.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    std::vector<double> plainKill;
    std::vector<double> treeKill;
    std::vector<double> startToLowered;
    for (int run = 0; run < 2 * runs; ++run) {
        const bool tree = run % 2 == 1;
        const std::string statePath = std::string(directory) + "quillmere-kill-" + std::to_string(run) + ".txt";
        DeleteFileA(statePath.c_str());
        AudioEngineDouble engine("volume_state " + statePath + "\nsession speakers pid=3999996 id=a volume=0.8\n");
        const double started = nowMs();
        HostProcess host({{"1234"}});
        if (!host.waitForLog("[win-helper] Ducking session pid 3999996: 0.8 -> 0.16")) {
            std::fprintf(stderr, "the session was not ducked\n");
            return 1;
        }
        startToLowered.push_back(nowMs() - started);
        Sleep(200 + 31 * run % 300);
        const double start = nowMs();
        if (tree) {
            terminateEverythingBelow(GetCurrentProcessId());
        } else {
            TerminateProcess(host.handle(), 1);
        }
        while (!restored(statePath)) {
            if (nowMs() - start > 10000) {
                std::fprintf(stderr, "the volume was not restored after a %s kill\n", tree ? "tree" : "plain");
                return 1;
            }
            Sleep(1);
        }
        (tree ? treeKill : plainKill).push_back(nowMs() - start);
        host.waitForExit();
        DeleteFileA(statePath.c_str());
    }
    report("kill -> volume restored by the guardian", plainKill);
    report("tree kill -> volume restored by the guardian", treeKill);
    report("start -> session lowered", startToLowered);
    return 0;
}
