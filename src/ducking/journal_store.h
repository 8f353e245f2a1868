#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/process_identity.h"
#include "ducking/ducking_journal.h"
#include "ducking/journal_files.h"

// The journals on disk: one file per running program in the user's own folder for such state
// (Windows: SHGetKnownFolderPath(FOLDERID_LocalAppData)\Quillmere\ducking; Linux:
// $XDG_STATE_HOME/quillmere/ducking, by default ~/.local/state/quillmere/ducking with the home
// folder of the user's passwd entry), each replaced whole by a rename, so that a reader never
// sees half a journal.

class DuckingLedger;

// This program's own journal, written from its ledger, or removed when nothing is left to put
// back. A write does nothing when the ledger has not changed since the last one. A durable
// write reaches the disk before it returns, so that even a power loss keeps it: the one before
// a session is first lowered. Other changes (a new ratio, a restore) only need to outlive the
// program, which any write does; a power loss that takes one of those back leaves a journal
// whose sessions are no longer at the volume it lists, and those are left alone. A failed write
// is reported once: kJournalWriteFailedPrefix, the path, " error=" and the system's number.
class OwnJournal {
public:
    explicit OwnJournal(const ProcessIdentity& self) : self_(self) {}
    void persist(const DuckingLedger& ledger, JournalWrite write = JournalWrite::Ordinary);

private:
    ProcessIdentity self_;
    std::uint64_t written_ = 0;
    bool failureReported_ = false;
};

struct StoredJournal {
    JournalPath path;
    Journal journal;
};
// Every readable journal. An unreadable one is set aside (renamed, kept for a person to read)
// with the line kJournalUnreadablePrefix and its path.
std::vector<StoredJournal> readJournals();
// The journal of that owner, if there is a readable one.
std::optional<StoredJournal> readJournalOf(const ProcessIdentity& owner);
// Replaces a journal with what is left of it, or removes it when nothing is.
void rewriteJournal(const StoredJournal& stored);

// Under the recovery lock, hands `recover` every journal of a program that has ended (never
// self's), or the journal of that owner if there is a readable one. `recover` puts back what it
// can and rewrites the journal with what is left.
void forEachEndedRunJournal(const ProcessIdentity& self, const std::function<void(StoredJournal&)>& recover);
void forJournalOf(const ProcessIdentity& owner, const std::function<void(StoredJournal&)>& recover);
