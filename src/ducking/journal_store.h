#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/process_identity.h"
#include "ducking/ducking_journal.h"
#include "ducking/journal_files.h"
#include "ducking/journal_names.h"

// The journals on disk: one file per running program in the user's own folder for such state
// (Windows: SHGetKnownFolderPath(FOLDERID_LocalAppData)\Quillmere\ducking; Linux:
// $XDG_STATE_HOME/quillmere/ducking, by default ~/.local/state/quillmere/ducking with the home
// folder of the user's passwd entry), each replaced whole by a rename, so that a reader never
// sees half a journal.

class DuckingLedger;

// This program's own journal, written from its ledger, or removed when nothing is left to put
// back. A write does nothing when the ledger has not changed since the last one that succeeded.
// Every write reaches the disk before it returns, so that even a power loss keeps it: the engine
// sets a volume only once its entry is written. A failed write is reported once per run
// (journalWriteFailedLine) and tried again on the next change or call.
class OwnJournal {
public:
    explicit OwnJournal(const ProcessIdentity& self) : self_(self) {}
    // True once the journal on disk says what the ledger does.
    // `server`: the sound server instance the ledger's entries belong to.
    bool persist(const DuckingLedger& ledger, const std::string& server = {});

private:
    ProcessIdentity self_;
    std::optional<std::uint64_t> written_;
    bool failureReported_ = false;
};

// The folder's files of that kind, in the folder's order.
std::vector<JournalPath> journalFiles(JournalFileKind kind);

struct StoredJournal {
    JournalPath path;
    Journal journal;
    std::vector<std::size_t> unreadableLines;  // left out of `journal`
};
// Every readable journal, of either version, but self's own, which is never read here (nor set
// aside). One that cannot be read at all is set aside (renamed, kept for a person to read) with
// its journalUnreadableLine; of one with some unreadable lines, the rest is read.
std::vector<StoredJournal> readJournals(const ProcessIdentity& self);
// The journal of that owner, or at that path, if there is a readable one.
std::optional<StoredJournal> readJournalOf(const ProcessIdentity& owner);
// `setAside`: false for a file that may be a running program's, left as it is.
std::optional<StoredJournal> readJournalAt(const JournalPath& path, bool setAside = true);
// Replaces a journal with what is left of it, or removes it when nothing is.
void rewriteJournal(const StoredJournal& stored);

// Under the recovery lock, hands `recover` every journal of a program that has ended (never
// self's; a file whose name names a running program is only read for its boot, and never set
// aside), after removing the temporary files whose writers ended; or the journal of that owner if there is a readable
// one, each unreadable line of it first reported (journalUnreadableLine, with its number). `recover` puts back what it
// can and rewrites the journal with what is left, without those lines.
void forEachEndedRunJournal(const ProcessIdentity& self, const std::function<void(StoredJournal&)>& recover);
void forJournalOf(const ProcessIdentity& owner, const std::function<void(StoredJournal&)>& recover);
