#include "support/host_process.h"

#include <chrono>
#include <stdexcept>

namespace {

std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

void makePipe(HANDLE& read, HANDLE& write, bool childReads) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &attributes, 0)) {
        throw std::runtime_error("CreatePipe failed");
    }
    SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

std::string testBinDir() {
    return QUILLMERE_TEST_BIN_DIR;
}

HostProcess::HostProcess(const Options& options) {
    HANDLE inputRead, outputRead, outputWrite, logRead, logWrite;
    makePipe(inputRead, input_, true);
    makePipe(outputRead, outputWrite, false);
    makePipe(logRead, logWrite, false);

    std::string commandLine =
        quoteArgument(options.program.empty() ? testBinDir() + "\\Quillmere.exe" : options.program);
    for (const auto& arg : options.args) {
        commandLine += " " + quoteArgument(arg);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = logWrite;
    const BOOL created =
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                       options.job != nullptr ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &process_);
    if (created && options.job != nullptr) {
        AssignProcessToJobObject(options.job, process_.hProcess);
        ResumeThread(process_.hThread);
    }
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    CloseHandle(logWrite);
    if (!created) {
        throw std::runtime_error("CreateProcess failed for " + commandLine);
    }
    outputReader_ = std::thread(&HostProcess::readLoop, this, outputRead, std::ref(output_), options.closeOutputAfter);
    logReader_ =
        std::thread(&HostProcess::readLoop, this, logRead, std::ref(log_), std::numeric_limits<std::size_t>::max());
}

HostProcess::~HostProcess() {
    if (process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 0xDEAD);
    }
    holdOutput_.exchange(false);
    holdLog_.exchange(false);
    closeInput();
    if (outputReader_.joinable()) {
        outputReader_.join();
    }
    if (logReader_.joinable()) {
        logReader_.join();
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

void HostProcess::readLoop(HANDLE pipe, std::string& sink, std::size_t closeAfter) {
    char buffer[4096];
    for (;;) {
        if ((&sink == &output_ ? holdOutput_ : holdLog_).load()) {
            Sleep(20);
            continue;
        }
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0) {
            break;
        }
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        std::lock_guard<std::mutex> lock(mutex_);
        sink.append(buffer, got);
        if (&sink == &output_) {
            arrivals_.push_back({now.QuadPart, sink.size()});
        }
        changed_.notify_all();
        if (sink.size() >= closeAfter) {
            break;
        }
    }
    CloseHandle(pipe);
}

void HostProcess::write(const std::string& bytes) {
    DWORD written = 0;
    WriteFile(input_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void HostProcess::stopReading(Pipe pipe) {
    (pipe == Pipe::Output ? holdOutput_ : holdLog_).exchange(true);
}

void HostProcess::closeInput() {
    if (input_ != nullptr) {
        CloseHandle(input_);
        input_ = nullptr;
    }
}

bool HostProcess::waitForLog(const std::string& text, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return log_.find(text) != std::string::npos; });
}

DWORD HostProcess::waitForExit(DWORD timeoutMs) {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 0xDEAD);
        WaitForSingleObject(process_.hProcess, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    holdOutput_.exchange(false);
    holdLog_.exchange(false);
    closeInput();
    if (outputReader_.joinable()) {
        outputReader_.join();
    }
    if (logReader_.joinable()) {
        logReader_.join();
    }
    return code;
}

std::string HostProcess::output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

std::vector<HostProcess::Arrival> HostProcess::outputArrivals() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
}

std::string HostProcess::log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

std::vector<std::string> HostProcess::logLines() {
    const std::string text = log();
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start) + "<unterminated>");
    }
    return lines;
}
