#pragma once

#include "common/process_identity.h"

// Recovery of journals whose program has ended without putting its volumes back: every session
// still at the volume that program set gets its volume from before; a session the user changed
// meanwhile is left as it is; an entry whose session is not found, or whose volume cannot be
// read or set, stays in the journal for a later try. Needs the calling thread in COM's
// multithreaded apartment.

// At a capture's start: every journal whose owner is gone. Logs
// "[win-helper] Restored session volume left lowered by an earlier run to: " and the volume
// for each session put back.
void recoverEndedRunsJournals();

// The guardian, once its program has ended: that program's journal only, without a line.
void recoverJournalOf(const ProcessIdentity& owner);
