// What bench/capture_cpu_linux.sh cannot measure in sh: CPU time to the nanosecond, and the
// moments lines and samples reach a pipe.
//
//   capture_timing cpu WHO...
//     prints the CLOCK_MONOTONIC time and, for each WHO, the CPU time (user and system, every
//     thread, ended ones included) in ns: WHO is a pid, or an executable's path for the sum over
//     every process that runs it (a program and the processes it forks). A process that is gone
//     counts 0.
//   capture_timing gap LEVEL MARK COMMAND [ARGS...]
//     starts COMMAND with its standard output and error on pipes, and prints the ms from its
//     start to the line on standard error that holds MARK ("-": none is awaited) and to the first
//     16-bit sample on standard output whose magnitude is above LEVEL, each "-" when it did not
//     come within 5 s; the command is then stopped with SIGTERM.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kGapTimeoutNs = 5'000'000'000;
constexpr std::int64_t kStopTimeoutNs = 3'000'000'000;

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return nanoseconds(now);
}

// The process's CPU clock counts every thread it has had, to the nanosecond; /proc's utime and
// stime are the same sum, cut to 10 ms ticks.
std::int64_t processCpuNs(pid_t pid) {
    clockid_t clock{};
    timespec used{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &used) != 0) {
        return 0;
    }
    return nanoseconds(used);
}

std::int64_t executableCpuNs(const char* path) {
    char wanted[PATH_MAX];
    if (realpath(path, wanted) == nullptr) {
        return 0;
    }
    std::int64_t sum = 0;
    DIR* processes = opendir("/proc");
    while (const dirent* entry = processes != nullptr ? readdir(processes) : nullptr) {
        const pid_t pid = std::atoi(entry->d_name);
        char running[PATH_MAX];
        const ssize_t length =
            pid > 0 ? readlink(("/proc/" + std::string(entry->d_name) + "/exe").c_str(), running, sizeof running - 1)
                    : -1;
        if (length > 0) {
            running[length] = '\0';
            if (std::strcmp(running, wanted) == 0) {
                sum += processCpuNs(pid);
            }
        }
    }
    if (processes != nullptr) {
        closedir(processes);
    }
    return sum;
}

int printCpu(int count, char** who) {
    std::printf("%lld", static_cast<long long>(monotonicNs()));
    for (int i = 0; i < count; ++i) {
        const std::int64_t used =
            std::strchr(who[i], '/') != nullptr ? executableCpuNs(who[i]) : processCpuNs(std::atoi(who[i]));
        std::printf(" %lld", static_cast<long long>(used));
    }
    std::printf("\n");
    return 0;
}

// A child with its standard output and error on pipes, its standard input on /dev/null.
struct Child {
    pid_t pid = -1;
    int output = -1;
    int error = -1;
};

Child start(char** argv) {
    int output[2];
    int error[2];
    if (pipe(output) != 0 || pipe(error) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(output[1], STDOUT_FILENO);
        dup2(error[1], STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        close(output[0]);
        close(error[0]);
        execvp(argv[0], argv);
        _exit(127);
    }
    close(output[1]);
    close(error[1]);
    child.output = output[0];
    child.error = error[0];
    return child;
}

// SIGTERM, then SIGKILL if it has not ended within the time.
void stop(const Child& child) {
    kill(child.pid, SIGTERM);
    close(child.output);
    close(child.error);
    const std::int64_t deadline = monotonicNs() + kStopTimeoutNs;
    while (waitpid(child.pid, nullptr, WNOHANG) == 0) {
        if (monotonicNs() > deadline) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, nullptr, 0);
            return;
        }
        usleep(10'000);
    }
}

void printMs(std::int64_t fromNs, std::int64_t toNs) {
    if (toNs < 0) {
        std::printf("-");
    } else {
        std::printf("%.1f", static_cast<double>(toNs - fromNs) / 1e6);
    }
}

int printGap(long level, const char* mark, char** command) {
    const bool markAwaited = std::strcmp(mark, "-") != 0;
    const std::int64_t started = monotonicNs();
    const Child child = start(command);
    std::int64_t markAt = -1;
    std::int64_t audioAt = -1;
    std::string errorText;
    // A sample can be split between two reads: an odd byte waits for the next.
    std::vector<unsigned char> buffer(65536);
    std::size_t carried = 0;
    pollfd pipes[] = {{child.output, POLLIN, 0}, {child.error, POLLIN, 0}};
    while ((audioAt < 0 || (markAwaited && markAt < 0)) && (pipes[0].fd >= 0 || pipes[1].fd >= 0)) {
        const std::int64_t left = started + kGapTimeoutNs - monotonicNs();
        if (left <= 0) {
            break;
        }
        if (poll(pipes, 2, static_cast<int>(left / 1'000'000) + 1) < 0 && errno != EINTR) {
            break;
        }
        if (pipes[1].revents != 0) {
            char text[4096];
            const ssize_t got = read(child.error, text, sizeof text);
            const std::int64_t now = monotonicNs();
            if (got <= 0) {
                pipes[1].fd = -1;
            } else if (markAt < 0) {
                errorText.append(text, static_cast<std::size_t>(got));
                if (markAwaited && errorText.find(mark) != std::string::npos) {
                    markAt = now;
                }
            }
        }
        if (pipes[0].revents != 0) {
            const ssize_t got = read(child.output, buffer.data() + carried, buffer.size() - carried);
            const std::int64_t now = monotonicNs();
            if (got <= 0) {
                pipes[0].fd = -1;
                continue;
            }
            const std::size_t bytes = carried + static_cast<std::size_t>(got);
            for (std::size_t i = 0; i + 1 < bytes && audioAt < 0; i += 2) {
                const auto sample = static_cast<std::int16_t>(buffer[i] | buffer[i + 1] << 8);
                if (std::abs(static_cast<long>(sample)) > level) {
                    audioAt = now;
                }
            }
            carried = bytes % 2;
            if (carried != 0) {
                buffer[0] = buffer[bytes - 1];
            }
        }
    }
    stop(child);
    printMs(started, markAt);
    std::printf(" ");
    printMs(started, audioAt);
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "cpu") == 0) {
        return printCpu(argc - 2, argv + 2);
    }
    if (argc >= 5 && std::strcmp(argv[1], "gap") == 0) {
        return printGap(std::atol(argv[2]), argv[3], argv + 4);
    }
    std::fprintf(stderr, "usage: capture_timing cpu WHO... | capture_timing gap LEVEL MARK COMMAND [ARGS...]\n");
    return 2;
}
