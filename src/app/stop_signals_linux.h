#pragma once

#include <signal.h>

// The stop signals, SIGINT, SIGTERM and SIGHUP, are blocked in every thread from main's start,
// before the first thread: what each mode does with them is its own. A capture takes them on a
// thread of its own and ends in order (main_linux.cpp); a listing gives them back their default
// action, which ends it; the guardian takes SIGINT and SIGTERM itself (guardian_linux.cpp).
sigset_t stopSignals();

// Ends the process by `signal`, as if nothing had caught it, so that whoever waits for the
// process sees that signal.
void endBySignal(int signal);
