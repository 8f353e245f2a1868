#pragma once

#include <chrono>
#include <concepts>
#include <cstdint>
#include <deque>
#include <string>

// One diagnostic line on standard error. Pieces are appended with <<; the finished line,
// newline included, is handed whole to the log's writer thread when the object goes out of
// scope, so lines from different threads never interleave inside a line and keep the order
// they were finished in. No thread but the writer ever waits for the host to read: a line
// standard error has not taken within kLogLineBound is dropped (see PendingLines).
class LogLine {
public:
    LogLine() = default;
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;
    ~LogLine();

    LogLine& operator<<(const char* text);
    LogLine& operator<<(const std::string& text);
    // Floating values as a stream writes them by default: %g with six significant digits.
    LogLine& operator<<(float value);

    template <std::integral T>
    LogLine& operator<<(T value) {
        if constexpr (std::signed_integral<T>) {
            appendSigned(static_cast<long long>(value));
        } else {
            appendUnsigned(static_cast<unsigned long long>(value));
        }
        return *this;
    }

private:
    void appendSigned(long long value);
    void appendUnsigned(unsigned long long value);

    std::string text_;
};

// How long a finished line may wait for standard error before it is dropped.
inline constexpr std::chrono::milliseconds kLogLineBound{500};

// Waits until the lines finished so far have reached standard error, or have been dropped, at
// most kLogLineBound after the last one. The program calls it at every end of the process that
// does not return from main (a signal raised again, a console handler); returning from main
// does it by itself.
void flushLog();

// The lines waiting for standard error, oldest first. Each may wait kLogLineBound from when it
// was finished; whoever takes them gets only those still within that bound.
class PendingLines {
public:
    using Clock = std::chrono::steady_clock;

    void push(std::string line, Clock::time_point now);
    // The lines still within their bound, in order, each ended by its LF; the rest dropped.
    std::string take(Clock::time_point now);
    bool empty() const { return lines_.empty(); }

private:
    struct Line {
        Clock::time_point finished;
        std::string text;
    };
    void dropExpired(Clock::time_point now);

    std::deque<Line> lines_;
};

// A float in the %g form with six significant digits (0.2 -> "0.2", 1.0 -> "1", 5e-05).
std::string formatDefaultFloat(double value);

// Lower-case hexadecimal without leading zeros (0x80004005 -> "80004005", 0 -> "0").
std::string formatLowerHex(std::uint32_t value);
