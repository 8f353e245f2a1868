#pragma once

#include "common/process_identity.h"

// The guardian: a copy of the program, started with the internal arguments
// "--guardian <pid> <creation time>" by a starter (below) before the ducking begins. It waits for the program to end
// and, if the program's journal still lists sessions (it was killed, or crashed), puts back the
// ones still at the volume the program set. It holds no audio interface while it waits.

// Starts the guardian of this program through a starter: a copy of the program started with the
// internal arguments "--start-guardian <pid> <creation time>", which starts the guardian and ends
// at once, so that the guardian is nobody's child and no walk down the process tree from the host
// (taskkill /T, "End process tree") reaches it. Both have no console, the null device as their
// only inherited handle (neither holds the host's pipes open), and leave the program's job when
// the job allows it. Returns once the starter has ended, or after 5 s; when the guardian could
// not be started it says why (error 258: the starter took too long), and the journal then still
// serves the next start.
void startGuardian();

// The starter's whole run: starts the guardian of `owner`; returns 0, or the reason the guardian
// could not be started, as its exit status.
int startGuardianFor(const ProcessIdentity& owner);

// The guardian's whole run; returns its exit status.
int runGuardian(const ProcessIdentity& owner);
