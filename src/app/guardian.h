#pragma once

#include "common/process_identity.h"

// The guardian: a copy of the program, started with the internal arguments
// "--guardian <pid> <creation time>" (not for hosts) before the ducking begins. It waits for the
// program to end and, if the program's journal still lists sessions (it was killed, or crashed),
// puts back the ones still at the volume the program set. It holds no audio interface while it
// waits, and never holds the host's pipes open.
// - Windows: no console, the null device as its only inherited handle, out of the program's job
//   when the job allows it; it waits on the program's process handle.
// - Linux: in a session of its own (a signal to the host's process group does not reach it),
//   /dev/null as its standard streams and, beside them, only the read end of a pipe that the
//   program alone writes to: end-of-file on it is the program's end, however it ends.

// Starts the guardian of this program. When it cannot be started it says why (the line starts
// with kGuardianNotStartedPrefix); the journal then still serves the next start.
void startGuardian();

// The guardian's whole run; returns its exit status.
int runGuardian(const ProcessIdentity& owner);
