// Measures, under Wine against the audio engine double, how long a lowered volume stays lowered
// after the program is killed (TerminateProcess, as a host's child.kill() does): from the kill
// to the guardian having put the volume back. The double keeps its volumes in a state file.
// Run: build/windows/run-under-wine.sh build/windows/bench/kill_restore.exe [runs]

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

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    std::vector<double> samples;
    for (int run = 0; run < runs; ++run) {
        const std::string statePath = std::string(directory) + "quillmere-kill-" + std::to_string(run) + ".txt";
        DeleteFileA(statePath.c_str());
        AudioEngineDouble engine("volume_state " + statePath + "\nsession speakers pid=3999996 id=a volume=0.8\n");
        HostProcess host({{"1234"}});
        if (!host.waitForLog("[win-helper] Ducking session pid 3999996: 0.8 -> 0.16")) {
            std::fprintf(stderr, "the session was not ducked\n");
            return 1;
        }
        Sleep(200 + 31 * run % 300);
        const double start = nowMs();
        TerminateProcess(host.handle(), 1);
        while (!restored(statePath)) {
            if (nowMs() - start > 10000) {
                std::fprintf(stderr, "the volume was not restored\n");

                return 1;
            }
            Sleep(1);
        }
        samples.push_back(nowMs() - start);
        host.waitForExit();
        DeleteFileA(statePath.c_str());
    }
    std::sort(samples.begin(), samples.end());
    std::printf("kill -> volume restored by the guardian   runs %zu  median %7.1f ms  min %7.1f ms  worst %7.1f ms\n",
                samples.size(), samples[samples.size() / 2], samples.front(), samples.back());
    return 0;
}
