#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// Process-wide run state shared by the main thread, the console control handler, the stdin
// reader and the ducking thread. Flags and the ratio are written by exchange, read by load.
extern std::atomic<bool> g_captureRunning;     // run flag of the ducking thread and stdin reader
extern std::atomic<bool> g_captureLoopActive;  // condition of the capture loop
extern std::atomic<float> g_duckRatio;         // fraction other sessions are lowered to
extern std::atomic<bool> g_includeMode;        // capture includes (true) or excludes the target tree
extern std::thread g_duckThread;               // the ducking thread, empty until started

constexpr float kDefaultDuckRatio = 0.2f;
