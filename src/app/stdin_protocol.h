#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "common/run_state.h"

// The host's line protocol on standard input: "exit", "quit" or "stop" ends the capture;
// any other line is a new duck ratio read as atof reads its numeric prefix, accepted only
// within 0..1; a line with no numeric prefix is refused.

inline constexpr std::size_t kStdinReadSize = 256;
inline constexpr std::size_t kStdinMaxLineBytes = 64;

// Cuts raw bytes into lines. A line ends at LF or CR; empty lines are skipped; a line keeps
// at most its first 64 bytes.
class StdinLineSplitter {
public:
    template <class OnLine>
    void feed(const char* data, std::size_t size, OnLine&& onLine) {
        for (std::size_t i = 0; i < size; ++i) {
            const char value = data[i];
            if (value == '\n' || value == '\r') {
                if (!line_.empty()) {
                    onLine(line_);
                }
                line_.clear();
            } else if (line_.size() < kStdinMaxLineBytes) {
                line_.push_back(value);
            }
        }
    }

    // Hands over a last line that no terminator ended.
    template <class OnLine>
    void finish(OnLine&& onLine) {
        if (!line_.empty()) {
            onLine(line_);
        }
        line_.clear();
    }

private:
    std::string line_;
};

// Runs one line: stops the capture or updates the duck ratio, and logs what it did.
void executeStdinLine(const std::string& line, RunState& state);

// Reads standard input until it ends, a read fails, or the workers stop (tested before the first
// read and after each read is processed). `read` fills the buffer and returns the byte count, 0
// at end of input or on failure.
void runStdinReader(const std::function<std::size_t(char* buffer, std::size_t capacity)>& read, RunState& state);
