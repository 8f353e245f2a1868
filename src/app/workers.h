#pragma once

#include <cstdint>
#include <thread>

// The capture's two worker threads, and the one way the ducking thread is stopped.

// The ducking thread, empty until started; joined exactly once by stopDuckingAndRestore.
extern std::thread g_duckThread;

// Starts the stdin reader, detached: it is never joined. False, with a log line, if no thread
// could be made.
bool startStdinReader();

// Starts the ducking thread into g_duckThread. False, with a log line, if no thread could be made.
bool startDuckingThread(std::uint32_t targetPid);

// Both ways a capture ends (its own shutdown and a console signal) come here: clears
// g_captureRunning, joins the ducking thread exactly once, however the two overlap, and puts
// the saved volumes back. Returns at once after endDucking.
void stopDuckingAndRestore();

// The main thread's last restoration, before it leaves COM: waits for a console handler's
// restoration under way, and leaves nothing for a later one to do.
void endDucking();
