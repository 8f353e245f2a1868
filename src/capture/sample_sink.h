#pragma once

#include <cstddef>
#include <cstdint>

// Where the stream's samples go: standard output, one implementation per platform.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    // False once the bytes can no longer be delivered; the sink has said why, with the line
    // kStdoutClosedLine.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
};
