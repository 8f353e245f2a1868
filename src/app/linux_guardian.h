#pragma once

#include "common/process_identity.h"

// The guardian on Linux: a copy of the program, started with the internal arguments
// "--guardian <pid> <start time>" before the ducking begins, nobody's child (a walk down the
// process tree from the host does not reach it) and in a session of its own (a signal to the
// host's process group or session does not reach it), with /dev/null as its standard streams and,
// beside them, only the read end of a pipe that the program alone writes to (it never holds the
// host's pipes open). It waits for the program to end (end-of-file on that pipe) and, if the program's journal still
// lists streams (it was killed, or crashed), puts back the ones still at the volume the program set. When it cannot be
// started, the program says why and goes on: the journal still serves the next start.
void startLinuxGuardian();

// The guardian's whole run; returns its exit status.
int runLinuxGuardian(const ProcessIdentity& owner);
