#include "linux_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

LinuxProcess::LinuxProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnvironment) {
    int in[2];
    int out[2];
    int err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return;
    }
    // Ours, with each extra entry in place of one of the same name.
    std::vector<std::string> environment(extraEnvironment);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const auto& extra : extraEnvironment) {
            replaced = replaced || extra.rfind(name, 0) == 0;
        }
        if (!replaced) {
            environment.push_back(text);
        }
    }
    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    input_ = in[1];
    outputFd_ = out[0];
    errorFd_ = err[0];
    outputReader_ = std::thread([this] { readInto(outputFd_, output_); });
    errorReader_ = std::thread([this] { readInto(errorFd_, error_); });
}

LinuxProcess::~LinuxProcess() {
    holdOutput_.exchange(false);
    holdError_.exchange(false);
    if (pid_ > 0 && !waited_) {
        kill(pid_, SIGKILL);
        wait();
    }
    if (input_ >= 0) {
        close(input_);
    }
    if (outputReader_.joinable()) {
        outputReader_.join();
    }
    if (errorReader_.joinable()) {
        errorReader_.join();
    }
}

void LinuxProcess::readInto(int fd, std::string& text) {
    char buffer[65536];
    for (;;) {
        // Wakes up now and then to see whether the host has stopped reading this pipe.
        if (fd == outputFd_ && stopOutput_.load()) {
            break;
        }
        if ((fd == outputFd_ ? holdOutput_ : holdError_).load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 50) == 0) {
            continue;
        }
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        text.append(buffer, static_cast<std::size_t>(got));
        changed_.notify_all();
    }
    close(fd);
}

void LinuxProcess::write(const std::string& text) {
    if (input_ >= 0 && ::write(input_, text.data(), text.size()) < 0) {
        close(input_);
        input_ = -1;
    }
}

void LinuxProcess::closeOutput() {
    // The reader closes the pipe when it sees the flag.
    stopOutput_.exchange(true);
    if (outputReader_.joinable()) {
        outputReader_.join();
    }
}

void LinuxProcess::stopReading(Pipe pipe) {
    fcntl(pipe == Pipe::Output ? outputFd_ : errorFd_, F_SETPIPE_SZ, 4096);
    (pipe == Pipe::Output ? holdOutput_ : holdError_).exchange(true);
}

void LinuxProcess::resumeReading(Pipe pipe) {
    (pipe == Pipe::Output ? holdOutput_ : holdError_).exchange(false);
}

void LinuxProcess::signal(int number) {
    kill(pid_, number);
}

bool LinuxProcess::waitForLog(const std::string& line, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return error_.find(line + "\n") != std::string::npos; });
}

bool LinuxProcess::waitForOutput(std::size_t bytes, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return output_.size() >= bytes; });
}

int LinuxProcess::wait() {
    if (!waited_) {
        waitpid(pid_, &status_, 0);
        waited_ = true;
    }
    return status_;
}

bool LinuxProcess::endsWithin(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!waited_ && std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            waited_ = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return waited_;
}

int LinuxProcess::waitForEnd() {
    holdOutput_.exchange(false);
    holdError_.exchange(false);
    const int status = wait();
    for (std::thread* reader : {&outputReader_, &errorReader_}) {
        if (reader->joinable()) {
            reader->join();
        }
    }
    return status;
}

std::vector<std::string> LinuxProcess::logLines() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    std::istringstream stream(error_);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string LinuxProcess::output() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, got);
        }
        pclose(pipe);
    }
    return output;
}

Reported reportedStream(pid_t pid) {
    const std::string property = "application.process.id = \"" + std::to_string(pid) + "\"";
    // A native PipeWire player's stream names no process; the client that opened it does.
    std::string client;
    {
        std::istringstream clients(run("pactl list clients"));
        std::string current;
        for (std::string line; std::getline(clients, line);) {
            if (line.rfind("Client #", 0) == 0) {
                current = line.substr(8);
            } else if (line.find(property) != std::string::npos) {
                client = current;
            }
        }
    }
    std::istringstream report(run("pactl list sink-inputs"));
    std::vector<std::pair<Reported, bool>> streams;  // each with whether it is the process's
    for (std::string line; std::getline(report, line);) {
        if (line.rfind("Sink Input #", 0) == 0) {
            streams.push_back({{line.substr(12), ""}, false});
        } else if (streams.empty()) {
            continue;
        } else if (line.find("\tVolume: ") == 0) {
            const std::size_t end = line.find(" dB");
            const std::size_t start = line.rfind("/ ", end);
            streams.back().first.decibels = line.substr(start + 2, end + 3 - start - 2);
        } else if (line.find(property) != std::string::npos || (!client.empty() && line == "\tClient: " + client)) {
            streams.back().second = true;
        }
    }
    Reported found;
    for (const auto& [stream, owned] : streams) {
        if (owned) {
            found = stream;
        }
    }
    return found;
}

std::string quillmereProgram() {
    return QUILLMERE_LINUX_PROGRAM;
}

std::string tonePlayerProgram() {
    return QUILLMERE_TONE_PLAYER;
}

std::string x11WindowProgram() {
    return QUILLMERE_X11_WINDOW;
}
