#pragma once

#include <cstddef>
#include <cstdint>

// Where the stream's samples go: standard output, one implementation per platform. Once the
// run's loop has been told to stop, a write the host has not taken within kStoppedWriteGrace is
// given up (held_write_watch.h): its bytes and those of every later write are not written, and the stop goes on.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    // False once the bytes can no longer be delivered; the sink has said why, with the line
    // kStdoutClosedLine. Given-up bytes are not a failure.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
};
