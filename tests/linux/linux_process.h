#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A child process as a host runs it: arguments as an array, standard input, output and error
// on pipes read by threads of their own.
class LinuxProcess {
public:
    // args[0] is the program's path. extraEnvironment: "NAME=value" entries that replace or add to ours.
    explicit LinuxProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnvironment = {});
    ~LinuxProcess();
    LinuxProcess(const LinuxProcess&) = delete;
    LinuxProcess& operator=(const LinuxProcess&) = delete;

    pid_t pid() const { return pid_; }
    void write(const std::string& text);
    // Closes our end of its standard output: its next write fails.
    void closeOutput();
    void signal(int number);
    // Stops reading its standard output or its standard error, as a host that hangs does, with
    // the pipe shrunk to one page so that it fills at once; the pipe stays open. Reading goes
    // on at the end (waitForEnd).
    enum class Pipe { Output, Error };
    void stopReading(Pipe pipe);
    // Reads it again, as a host that comes back does.
    void resumeReading(Pipe pipe);

    bool waitForLog(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitForOutput(std::size_t bytes, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The raw status waitpid reports.
    int wait();
    // Whether it has ended within the time; its status then as wait() gives it.
    bool endsWithin(std::chrono::milliseconds timeout);
    // Waits for the end, and for its output and log to be read to their ends.
    int waitForEnd();

    std::vector<std::string> logLines() const;
    std::string output() const;

private:
    void readInto(int fd, std::string& text);

    pid_t pid_ = -1;
    int input_ = -1;
    int outputFd_ = -1;
    int errorFd_ = -1;
    bool waited_ = false;
    std::atomic<bool> stopOutput_{false};
    std::atomic<bool> holdOutput_{false};
    std::atomic<bool> holdError_{false};
    int status_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    std::string error_;
    std::thread outputReader_;
    std::thread errorReader_;
};

// A shell command's standard output.
std::string run(const std::string& command);

// The sink input of a process, as the server reports it (pactl): its index and its volume in dB
// ("-1.94 dB"); empty when the process has none. A stream that names no process belongs to the
// process its client names.
struct Reported {
    std::string index;
    std::string decibels;
};
Reported reportedStream(pid_t pid);

// The programs under test, built beside the tests.
std::string quillmereProgram();
std::string tonePlayerProgram();
std::string x11WindowProgram();
