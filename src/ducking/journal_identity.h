#pragma once

#include <string>

#include "common/process_identity.h"
#include "ducking/ducking_journal.h"

// What a journal belongs to, as the store, the engine and recovery all read it: the run that
// wrote it, and the sound server whose sessions it lists.

// The journal's owner as this program sees it: itself, another program that still runs (whose
// journal is never recovered, and knows the volumes from before of what it lowered), or a run
// that has ended (whose journal is recovered).
enum class OwnerState { Self, Live, Ended };
// Asks the system whether the owner runs only when it is not `self`.
OwnerState ownerState(const ProcessIdentity& owner, const ProcessIdentity& self);
// A journal's owner: a journal of another boot is always an ended run's, whatever runs now under
// its owner's id and creation time; one that names no boot is judged by its owner alone.
OwnerState ownerState(const Journal& journal, const ProcessIdentity& self);

// Whether a journal's entries may be applied to the sessions of this sound server instance: an
// identifier is valid in its own instance only. A journal that names none (Windows, version 1)
// applies wherever it is read.
bool appliesToServer(const Journal& journal, const std::string& server);
