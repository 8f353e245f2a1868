#pragma once

#include <cstdint>

#include "common/process_identity.h"
#include "common/pulse_connection.h"

// Ducking on the sound server: the other applications' sink inputs (as the capture mode selects
// them, with the same exclusions as on Windows) are lowered to the ratio of their volume from
// before, once each, by the same ledger; a new ratio is applied to the volume from before, and
// a ratio of 0.999 or more puts them back. The volume is the stream's linear level (the loudest
// channel's), which each channel is scaled by, so that a stream's balance survives.

// The ducking thread: a pass about once a second, at once after a new ratio, until the workers
// stop.
void pulseDuckingThreadMain(PulseConnection& pulse, std::uint32_t targetPid);

// Puts every lowered stream still at the volume the program set back to its volume from before
// (each channel as it was); one a user changed meanwhile is left as the user set it.
void restorePulseVolumes(PulseConnection& pulse);

// Every lowering is journaled before it is made (see journal_store.h), so that the volumes come
// back however the program ends. These recover journals of programs that ended without putting
// their volumes back: each stream still at the volume that program set gets its volume from
// before; one the user changed meanwhile is left as it is; one not found stays for a later try.

// At a capture's start: every journal whose owner is gone, each stream put back logged with
// "[win-helper] Restored session volume left lowered by an earlier run to: ".
void recoverEndedPulseJournals(PulseConnection& pulse);

// The guardian, once its program has ended: that program's journal only, without a line.
void recoverPulseJournalOf(PulseConnection& pulse, const ProcessIdentity& owner);
