#pragma once

#include "common/process_identity.h"

// The guardian: a copy of the program, started with the internal arguments
// "--guardian <pid> <creation time>" when the ducking begins. It waits for the program to end
// and, if the program's journal still lists sessions (it was killed, or crashed), puts back the
// ones still at the volume the program set. It holds no audio interface while it waits.

// Starts the guardian of this program: no console, the null device as its only inherited handle
// (it never holds the host's pipes open), out of the program's job when the job allows it. When
// it cannot be started it says why; the journal then still serves the next start.
void startGuardian();

// The guardian's whole run; returns its exit status.
int runGuardian(const ProcessIdentity& owner);
