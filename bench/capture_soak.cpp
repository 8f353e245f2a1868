// A long capture under Wine against the audio engine double, as a host runs it: 48 kHz stereo
// float delivered in real time, ducking on with a few sessions that come and go (become active,
// go inactive, leave the device and return), optionally with random stdin traffic. Reports CPU per second of audio,
// working set over the run, stream length against 16,000 samples per second, packet-to-pipe latency, and checks that
// the run ends with exit status 0 and every ducked volume restored.
//
//   build/windows/run-under-wine.sh build/windows/bench/capture_soak.exe 60
//   build/windows/run-under-wine.sh build/windows/bench/capture_soak.exe 600 traffic

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/host_process.h"

namespace {

constexpr double kPacketSeconds = 480.0 / 48000.0;
constexpr std::size_t kPacketBytes = 320;  // 160 output samples per 480-frame packet

long long ticksPerSecond() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

double cpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    const auto toSeconds = [](FILETIME t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return toSeconds(kernel) + toSeconds(user);
}

SIZE_T workingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

// A random piece of host input. "1" (no ducking) is left out while session e is away: a
// session that is gone when the volumes are put back keeps its lowered volume, and the next
// ducking saves that as its own, as designed.
std::string randomTraffic(std::mt19937& random, bool sessionAway) {
    switch (random() % 7) {
        case 0: return std::to_string(static_cast<double>(random() % 999) / 1000.0) + "\n";
        case 1: return "1.5\n";
        case 2: return std::string(random() % 300, static_cast<char>('a' + random() % 26)) + "\n";
        case 3: return "0.";  // a partial line, finished by whatever comes next
        case 4: return "\r\n\n";
        case 5: return sessionAway ? "0.25\n" : "1\n";
        default: return "junk " + std::to_string(random()) + "\r";
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const bool traffic = argc > 2 && std::string(argv[2]) == "traffic";
    // Sessions of processes outside the target's tree; some come and go during the run.
    std::string script = "mix_format ext-float 48000 2 32\npacket 480 tone 440 0.5\nrepeat\nrealtime\n";
    const std::map<std::string, float> volumes = {{"a", 0.8f}, {"b", 0.6f}, {"c", 0.9f}, {"d", 0.7f}, {"e", 0.5f}};
    script += "session speakers pid=3999996 id=a volume=0.8\n";
    script += "session speakers pid=3999992 id=b volume=0.6 active_after_ms=5000\n";
    script += "session speakers pid=3999988 id=c volume=0.9 inactive_after_ms=" + std::to_string(seconds * 500) + "\n";
    script += "session speakers pid=3999984 id=d volume=0.7 active_after_ms=2000 inactive_after_ms=" +
              std::to_string(seconds * 700) + "\n";
    // Gone from the device for the middle fifth of the run, then back.
    script += "session speakers pid=3999980 id=e volume=0.5 absent_from_ms=" + std::to_string(seconds * 400) +
              " absent_until_ms=" + std::to_string(seconds * 600) + "\n";
    AudioEngineDouble engine(script);
    HostProcess host({{"1234", "0.3"}});

    std::mt19937 random(12345);
    std::vector<SIZE_T> sets;
    SIZE_T peak = 0;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < static_cast<ULONGLONG>(seconds) * 1000) {
        for (int step = 0; step < 10; ++step) {
            Sleep(100);
            if (traffic) {
                // Session e is away from 40 % to 60 % of the run; keep a margin around it.
                const double done = static_cast<double>(GetTickCount64() - start) / (seconds * 1000.0);
                host.write(randomTraffic(random, done > 0.35 && done < 0.65));
            }
        }
        const SIZE_T now = workingSet(host.handle());
        sets.push_back(now);
        peak = std::max(peak, now);
    }
    const double cpu = cpuSeconds(host.handle());
    host.write("\nexit\n");
    const DWORD exitCode = host.waitForExit(30000);

    // Latency: packet k is due at the stream's start plus k packet durations; its last byte is
    // byte (k + 1) x 320 of the stream.
    const auto started = engine.recorded("stream_start ");
    const auto arrivals = host.outputArrivals();
    std::vector<double> latencyMs;
    if (!started.empty()) {
        const long long streamStart = std::atoll(started.front().substr(13).c_str());
        const double tick = 1000.0 / static_cast<double>(ticksPerSecond());
        std::size_t next = 0;
        for (std::size_t k = 0;; ++k) {
            const std::size_t lastByte = (k + 1) * kPacketBytes;
            while (next < arrivals.size() && arrivals[next].bytes < lastByte) {
                ++next;
            }
            if (next == arrivals.size()) {
                break;
            }
            const double due = static_cast<double>(k) * kPacketSeconds * 1000.0;
            latencyMs.push_back(static_cast<double>(arrivals[next].ticks - streamStart) * tick - due);
        }
    }
    std::sort(latencyMs.begin(), latencyMs.end());

    const std::size_t bytes = host.output().size();
    const double audioSeconds = static_cast<double>(bytes) / 32000.0;
    std::printf("run: %d s%s, exit status %lu\n", seconds, traffic ? " with stdin traffic" : "", exitCode);
    std::printf("stream: %zu bytes = %.2f s of audio (16,000 samples per second)\n", bytes, audioSeconds);
    std::printf("cpu: %.2f s in all, %.4f s per second of audio\n", cpu, cpu / audioSeconds);
    if (!sets.empty()) {
        std::printf("working set: first %.1f MiB, after 10%% %.1f MiB, peak %.1f MiB, final %.1f MiB\n",
                    static_cast<double>(sets.front()) / 1048576.0,
                    static_cast<double>(sets[sets.size() / 10]) / 1048576.0, static_cast<double>(peak) / 1048576.0,
                    static_cast<double>(sets.back()) / 1048576.0);
    }
    if (!latencyMs.empty()) {
        std::printf("latency packet -> pipe: p50 %.2f ms, p99 %.2f ms, max %.2f ms over %zu packets\n",
                    latencyMs[latencyMs.size() / 2], latencyMs[latencyMs.size() * 99 / 100], latencyMs.back(),
                    latencyMs.size());
    }

    // Every session ever ducked ends at the volume it had before.
    bool restored = true;
    std::map<std::string, std::string> lastSet;
    for (const auto& line : engine.recorded("set_volume ")) {
        const auto space = line.find(' ', 11);
        lastSet[line.substr(11, space - 11)] = line.substr(space + 1);
    }
    for (const auto& [id, value] : lastSet) {
        const bool same = std::abs(std::strtof(value.c_str(), nullptr) - volumes.at(id)) < 1e-6f;
        std::printf("session %s: last volume set %s (%s)\n", id.c_str(), value.c_str(),
                    same ? "restored" : "NOT restored");
        restored = restored && same;
    }
    const bool ok = exitCode == 0 && restored && lastSet.size() == volumes.size();
    std::printf("%s\n", ok ? "result: ok" : "result: FAILED");
    return ok ? 0 : 1;
}
