#include "common/log.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "common/log_output.h"

namespace {

// What a pipe takes all or nothing (POSIX's least PIPE_BUF is 512; Linux's is 4096).
constexpr std::size_t kAtomicWrite = 4096;

// Writes lines in pieces of whole lines that a pipe takes all or nothing, so that a process that
// ends while the host does not read leaves no line cut (one longer than a piece may be).
void writeWholeLines(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.rfind('\n', std::min(text.size(), at + kAtomicWrite) - 1);
        if (end == std::string::npos || end < at) {
            end = text.find('\n', at);  // a line longer than a piece: whole all the same
        }
        end = end == std::string::npos ? text.size() : end + 1;
        writeLogOutput(text.data() + at, end - at);
        at = end;
    }
}

// The one writer of standard error. Threads hand it finished lines and go on; it writes what
// is waiting in one go, and alone waits while the host does not read. Made once and never
// destroyed: it may still be blocked in a write while the process ends. Its thread inherits the
// signal mask of the thread that finishes the first line (main, on Linux, after it has blocked
// the signals its signal thread takes).
class LogWriter {
public:
    void write(std::string line) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!started_) {
            start();
        }
        if (!threaded_) {
            // No thread of its own: each line is written where it is finished, as it comes.
            writeLogOutput(line.data(), line.size());
            return;
        }
        const auto now = PendingLines::Clock::now();
        pending_.push(std::move(line), now);
        lastDeadline_ = now + kLogLineBound;
        changed_.notify_all();
    }

    void flush() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_until(lock, lastDeadline_, [this] { return pending_.empty() && !writing_; });
    }

private:
    void start() {
        started_ = true;
        try {
            std::thread([this] { run(); }).detach();
            threaded_ = true;
            std::atexit(flushLog);
        } catch (const std::exception&) {
            threaded_ = false;
        }
    }

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !pending_.empty(); });
            const std::string text = pending_.take(PendingLines::Clock::now());
            writing_ = true;
            lock.unlock();
            writeWholeLines(text);
            lock.lock();
            writing_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    PendingLines pending_;
    bool started_ = false;
    bool threaded_ = false;
    bool writing_ = false;
    PendingLines::Clock::time_point lastDeadline_{};
};

LogWriter& logWriter() {
    static LogWriter* const writer = new LogWriter;
    return *writer;
}

}  // namespace

void flushLog() {
    logWriter().flush();
}

void PendingLines::push(std::string line, Clock::time_point now) {
    dropExpired(now);
    lines_.push_back({now, std::move(line)});
}

std::string PendingLines::take(Clock::time_point now) {
    dropExpired(now);
    std::string text;
    for (const Line& line : lines_) {
        text += line.text;
    }
    lines_.clear();
    return text;
}

void PendingLines::dropExpired(Clock::time_point now) {
    while (!lines_.empty() && now - lines_.front().finished > kLogLineBound) {
        lines_.pop_front();
    }
}

LogLine::~LogLine() {
    text_.push_back('\n');
    logWriter().write(std::move(text_));
}

LogLine& LogLine::operator<<(const char* text) {
    text_.append(text);
    return *this;
}

LogLine& LogLine::operator<<(const std::string& text) {
    text_.append(text);
    return *this;
}

LogLine& LogLine::operator<<(float value) {
    text_.append(formatDefaultFloat(value));
    return *this;
}

void LogLine::appendSigned(long long value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld", value);
    text_.append(buffer);
}

void LogLine::appendUnsigned(unsigned long long value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%llu", value);
    text_.append(buffer);
}

std::string formatDefaultFloat(double value) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

std::string formatLowerHex(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(value));
    return buffer;
}
