#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Runs Quillmere.exe the way a host application does: pipes on stdin, stdout and stderr.
class HostProcess {
public:
    struct Options {
        Options(std::vector<std::string> arguments,
                std::size_t closeOutputAfterBytes = std::numeric_limits<std::size_t>::max(),
                std::string programPath = {})
            : args(std::move(arguments)), closeOutputAfter(closeOutputAfterBytes), program(std::move(programPath)) {}

        std::vector<std::string> args;
        // The host closes its end of stdout once it has read this many bytes.
        std::size_t closeOutputAfter;
        // The program to run; empty for the test copy of Quillmere.exe.
        std::string program;
        // A job object the program runs in from its first instruction; none when null.
        HANDLE job = nullptr;
    };

    explicit HostProcess(const Options& options);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    void write(const std::string& bytes);
    void closeInput();
    // Stops reading its standard output or its standard error, as a host that hangs does; the
    // pipe stays open and soon fills. Reading goes on once the program has ended (waitForExit).
    enum class Pipe { Output, Error };
    void stopReading(Pipe pipe);

    // Waits until the log holds this text; false after the time-out.
    bool waitForLog(const std::string& text, DWORD timeoutMs = 10000);
    // Waits for the exit code; kills the process and returns 0xDEAD after the time-out.
    DWORD waitForExit(DWORD timeoutMs = 20000);

    DWORD pid() const { return process_.dwProcessId; }
    HANDLE handle() const { return process_.hProcess; }
    // When stdout bytes arrived: QueryPerformanceCounter ticks and the byte count so far.
    struct Arrival {
        long long ticks;
        std::size_t bytes;
    };
    std::vector<Arrival> outputArrivals();
    std::string output();
    std::string log();
    // The log split at CR LF, the way the program ends its lines.
    std::vector<std::string> logLines();

private:
    void readLoop(HANDLE pipe, std::string& sink, std::size_t closeAfter);

    PROCESS_INFORMATION process_ = {};
    HANDLE input_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    std::vector<Arrival> arrivals_;
    std::string log_;
    std::atomic<bool> holdOutput_{false};
    std::atomic<bool> holdLog_{false};
    std::thread outputReader_;
    std::thread logReader_;
};

// The folder with the test copy of Quillmere.exe and the audio engine double.
std::string testBinDir();
