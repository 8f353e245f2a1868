#pragma once

#include <concepts>
#include <cstdint>
#include <string>

// One diagnostic line on standard error. Pieces are appended with <<; the finished line,
// newline included, leaves in a single write when the object goes out of scope, so lines
// from different threads never interleave inside a line.
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

// A float in the %g form with six significant digits (0.2 -> "0.2", 1.0 -> "1", 5e-05).
std::string formatDefaultFloat(double value);

// Lower-case hexadecimal without leading zeros (0x80004005 -> "80004005", 0 -> "0").
std::string formatLowerHex(std::uint32_t value);
