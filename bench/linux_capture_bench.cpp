// The Linux program on a real sound server (run it under tests/linux/with-pulse.sh, or
// with-pipewire.sh for PipeWire's pulse server), capturing
// 1, 4 and 16 players at once: CPU time per second of audio, and the delay from a player's write
// of a click to the click's arrival on our standard output (one player clicks every 500 ms, the
// others play quiet tones), after a warm-up of 2 s whose worst delay is reported apart. With --soak, one run of 4
// players whose resident memory is sampled every 30 s.
//
//   tests/linux/with-pulse.sh build/bench/pulse build/bench/bench/linux_capture_bench [SECONDS]
//   tests/linux/with-pulse.sh build/bench/pulse build/bench/bench/linux_capture_bench --soak 600

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

struct Child {
    pid_t pid = -1;
    int output = -1;  // its standard output, read end
};

Child start(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        std::exit(1);
    }
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDERR_FILENO);
        dup2(null, STDIN_FILENO);  // end of input is no stop: the capture goes on
        std::vector<char*> argv;
        for (const auto& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    child.output = pipeFds[0];
    return child;
}

void stop(const Child& child) {
    kill(child.pid, SIGTERM);
    waitpid(child.pid, nullptr, 0);
    close(child.output);
}

// User and system time of a process, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(file, stat);
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0.0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index >= 14) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long residentKiB(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(values.size())))];
}

struct Result {
    double cpuPerAudioSecond;
    std::vector<double> latenciesMs;  // after the warm-up
    double warmUpWorstMs;
    std::vector<long> residentKiB;
};

Result run(int streams, double seconds, double sampleEverySeconds) {
    std::vector<Child> players;
    players.push_back(start({QUILLMERE_TONE_PLAYER, "click", "0.9", std::to_string(seconds + 30)}));
    for (int i = 1; i < streams; ++i) {
        players.push_back(
            start({QUILLMERE_TONE_PLAYER, std::to_string(300 + 97 * i), "0.01", std::to_string(seconds + 30)}));
    }
    std::mutex mutex;
    std::vector<std::int64_t> clicks;  // write times, by click number
    std::thread clickReader([&] {
        FILE* lines = fdopen(players[0].output, "r");
        char line[256];
        while (std::fgets(line, sizeof line, lines) != nullptr) {
            long number = 0;
            long long at = 0;
            if (std::sscanf(line, "click %ld %lld", &number, &at) == 2) {
                const std::lock_guard<std::mutex> lock(mutex);
                clicks.push_back(at);
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the players' streams settle

    const Child capture = start({QUILLMERE_LINUX_PROGRAM, "999999", "1"});
    std::vector<std::int64_t> arrivals;
    std::atomic<std::uint64_t> samples{0};
    std::thread outputReader([&] {
        std::vector<std::int16_t> buffer(8192);
        std::int64_t lastArrivalSample = -100000;
        std::uint64_t sample = 0;
        for (;;) {
            const ssize_t got = read(capture.output, buffer.data(), buffer.size() * 2);
            if (got <= 0) {
                return;
            }
            const std::int64_t now = monotonicNs();
            for (ssize_t i = 0; i < got / 2; ++i, ++sample) {
                if (std::abs(buffer[static_cast<std::size_t>(i)]) > 16000 &&
                    static_cast<std::int64_t>(sample) - lastArrivalSample > 4000) {
                    lastArrivalSample = static_cast<std::int64_t>(sample);
                    const std::lock_guard<std::mutex> lock(mutex);
                    arrivals.push_back(now);
                }
            }
            samples = sample;
        }
    });

    std::this_thread::sleep_for(std::chrono::seconds(2));  // warm-up: streams found, buffers settled
    const std::int64_t measuredFrom = monotonicNs();
    const double cpuStart = cpuSeconds(capture.pid);
    const std::uint64_t samplesStart = samples.load();
    Result result{};
    const auto begin = std::chrono::steady_clock::now();
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() < seconds) {
        result.residentKiB.push_back(residentKiB(capture.pid));
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(sampleEverySeconds, seconds)));
    }
    result.residentKiB.push_back(residentKiB(capture.pid));
    const double audioSeconds = static_cast<double>(samples.load() - samplesStart) / 16000.0;
    result.cpuPerAudioSecond = (cpuSeconds(capture.pid) - cpuStart) / audioSeconds;

    stop(capture);
    outputReader.join();
    for (const Child& player : players) {
        kill(player.pid, SIGKILL);
        waitpid(player.pid, nullptr, 0);
    }
    clickReader.join();
    // Each arrival belongs to the latest click written before it (clicks are 500 ms apart).
    for (const std::int64_t arrival : arrivals) {
        std::int64_t written = 0;
        for (const std::int64_t click : clicks) {
            if (click <= arrival) {
                written = click;
            }
        }
        if (written != 0 && arrival - written < 500000000LL) {
            const double latencyMs = static_cast<double>(arrival - written) / 1e6;
            if (arrival >= measuredFrom) {
                result.latenciesMs.push_back(latencyMs);
            } else {
                result.warmUpWorstMs = std::max(result.warmUpWorstMs, latencyMs);
            }
        }
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--soak") == 0) {
        const double seconds = std::atof(argv[2]);
        const Result soak = run(4, seconds, 30.0);
        std::printf("| minute | resident memory (KiB) |\n|---:|---:|\n");
        for (std::size_t i = 0; i < soak.residentKiB.size(); ++i) {
            std::printf("| %.1f | %ld |\n", static_cast<double>(i) * 0.5, soak.residentKiB[i]);
        }
        return 0;
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    std::printf(
        "| streams | CPU per second of audio | write -> stdout p50 | p99 | clicks | first 2 s: worst | resident memory "
        "|\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const int streams : {1, 4, 16}) {
        const Result result = run(streams, seconds, seconds);
        std::printf("| %d | %.2f ms | %.1f ms | %.1f ms | %zu | %.1f ms | %ld KiB |\n", streams,
                    result.cpuPerAudioSecond * 1000.0, percentile(result.latenciesMs, 0.5),
                    percentile(result.latenciesMs, 0.99), result.latenciesMs.size(), result.warmUpWorstMs,
                    result.residentKiB.back());
    }
    return 0;
}
