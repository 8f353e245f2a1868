#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "common/process_identity.h"
#include "ducking/ducking_journal.h"
#include "ducking/session_volumes.h"

// Recovery of journals whose program ended without putting its volumes back: a session still
// at the volume that program set gets its volume from before; one the user changed meanwhile is
// left as it is, and forgotten; one not found, or whose volume cannot be read or set, stays in
// the journal for a later try.

// At a capture's start: every journal whose owner is gone, each session put back logged with
// kRecoveredPrefix and its volume.
void recoverEndedRunsJournals(SessionVolumes& sessions, const ProcessIdentity& self);
// The guardian, once its program has ended: that program's journal only, without a line.
void recoverJournalOf(SessionVolumes& sessions, const ProcessIdentity& owner);

// The entry of a journal that lists this session: the one of its identifier, else the first of
// the application's key (a Linux stream that came back gets a new index); `entries.end()` when
// none does. A recovery and a pass find a session's entry alike.
std::vector<JournalEntry>::const_iterator listedEntry(const std::vector<JournalEntry>& entries,
                                                      const AudioSession& session);

enum class Recovered { Back, Dropped, Kept };

// The recovery rule on one session an ended run's entry lists, now at `current`: put back while
// still at the volume that run set (logged when `log`), forgotten when the user changed it since,
// kept for a later try when its volume cannot be read or set.
Recovered recoverSession(SessionVolumes& sessions, std::size_t session, const AudioSession& found,
                         std::optional<float> current, const JournalEntry& entry, bool log);
