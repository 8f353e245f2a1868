#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/process_identity.h"
#include "ducking/ducking_journal.h"

// The journals on disk: one file per running program in the user's local application data
// folder (SHGetKnownFolderPath(FOLDERID_LocalAppData)\Quillmere\ducking), each replaced whole
// by a rename, so that a reader never sees half a journal.

// Writes the ledger's journal for this program, or removes it when nothing is left to put back.
// Does nothing when the ledger has not changed since the last call.
void persistLedgerJournal();

struct StoredJournal {
    std::wstring path;
    Journal journal;
};
// Every readable journal. An unreadable one is set aside (renamed, kept for a person to read)
// with the line "[win-helper] Ignoring unreadable ducking journal: " and its path.
std::vector<StoredJournal> readJournals();
// The journal of that owner, if there is a readable one.
std::optional<StoredJournal> readJournalOf(const ProcessIdentity& owner);
// Replaces a journal with what is left of it, or removes it when nothing is.
void rewriteJournal(const StoredJournal& stored);

// Held while a journal of an ended program is recovered, so that two processes (a guardian, a
// starting capture) never recover the same one at once.
class JournalRecoveryLock {
public:
    JournalRecoveryLock();
    ~JournalRecoveryLock();
    JournalRecoveryLock(const JournalRecoveryLock&) = delete;
    JournalRecoveryLock& operator=(const JournalRecoveryLock&) = delete;

private:
    void* mutex_;
    bool owned_;
};
