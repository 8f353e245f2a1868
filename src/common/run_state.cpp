#include "common/run_state.h"

std::atomic<bool> g_captureRunning{true};
std::atomic<bool> g_captureLoopActive{true};
std::atomic<float> g_duckRatio{kDefaultDuckRatio};
std::atomic<bool> g_includeMode{false};
RunSignal g_runSignal;

void requestCaptureStop() {
    g_captureLoopActive.exchange(false);
    g_captureRunning.exchange(false);
    g_runSignal.notify();
}

void requestWorkersStop() {
    g_captureRunning.exchange(false);
    g_runSignal.notify();
}

void publishDuckRatio(float ratio) {
    g_duckRatio.exchange(ratio);
    g_runSignal.notify();
}
