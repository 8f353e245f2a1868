#pragma once

#include <windows.h>

// Ctrl+C, Ctrl+Break, close, log-off and shutdown: stops the ducking thread and puts the saved
// volumes back, then declines the signal so that the system ends the process.
BOOL WINAPI consoleCtrlHandler(DWORD ctrlType);
