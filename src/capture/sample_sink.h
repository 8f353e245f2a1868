#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// How long a write may wait for the host to read once the capture has been told to stop.
inline constexpr std::chrono::milliseconds kStoppedWriteGrace{100};

// Where the stream's samples go: standard output, one implementation per platform. Once the
// run's loop has been told to stop, a write the host has not taken within kStoppedWriteGrace is
// given up: its bytes and those of every later write are not written, and the stop goes on.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    // False once the bytes can no longer be delivered; the sink has said why, with the line
    // kStdoutClosedLine. Given-up bytes are not a failure.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
};
