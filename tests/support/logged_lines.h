#pragma once

// The lines a step of a unit test writes on standard error, from every thread.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/log.h"

using Lines = std::vector<std::string>;

inline Lines linesOf(const std::string& text) {
    Lines lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Runs `step` and returns the lines it logged.
template <class Step>
Lines logged(Step step) {
    flushLog();  // nothing logged before counts
    ::testing::internal::CaptureStderr();
    step();
    flushLog();
    return linesOf(::testing::internal::GetCapturedStderr());
}
