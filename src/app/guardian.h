#pragma once

#include "common/process_identity.h"

// The guardian: a copy of the program, started with the internal option kGuardianOption
// (command_line.h, not for hosts), the program's pid and its creation time, before the ducking
// begins. It waits for the program to end and, if the program's journal still lists sessions (it
// was killed, or crashed), puts back the ones still at the volume the program set. It holds no
// audio interface while it waits, never holds the host's pipes open, and is nobody's child, so
// that no walk down the process tree from the host (taskkill /T, "End process tree", tree-kill)
// reaches it.
// - Windows: started by a starter, a copy of the program started with kGuardianStarterOption
//   and the same two numbers, which starts the guardian and ends at once. Both have no console,
//   the null device as their only inherited handle, and leave the program's job when the job
//   allows it. The guardian waits on the program's process handle.
// - Linux: a double fork, in a session of its own (a signal to the host's process group or
//   session does not reach it), /dev/null as its standard streams and, beside them, only the
//   read end of a pipe that the program alone writes to: end-of-file on it is the program's end,
//   however it ends. SIGINT and SIGTERM end it too, after the same restore; SIGHUP does not.

// Starts the guardian of this program; on Windows returns once the starter has ended, or after
// 5 s. When the guardian could not be started it says why (kGuardianNotStartedPrefix and the
// error; 258: the starter took too long); the journal then still serves the next start.
void startGuardian();

// The starter's whole run (Windows): starts the guardian of `owner`; returns 0, or the reason the
// guardian could not be started, as its exit status.
int startGuardianFor(const ProcessIdentity& owner);

// The guardian's whole run; returns its exit status.
int runGuardian(const ProcessIdentity& owner);
