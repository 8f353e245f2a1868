#include "app/run_state.h"

std::atomic<bool> g_captureRunning{true};
std::atomic<bool> g_captureLoopActive{true};
std::atomic<float> g_duckRatio{kDefaultDuckRatio};
std::atomic<bool> g_includeMode{false};
std::thread g_duckThread;
