#include "common/log.h"

#include <cstdio>

LogLine::~LogLine() {
    // On Windows stderr is in the C runtime's text mode: this LF reaches the host as CR LF.
    text_.push_back('\n');
    std::fwrite(text_.data(), 1, text_.size(), stderr);
    std::fflush(stderr);
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
