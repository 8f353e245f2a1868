#include "ducking/journal_store.h"

#include <cstdint>
#include <utility>

#include "common/log.h"
#include "common/protocol_text.h"
#include "ducking/ducking_ledger.h"
#include "ducking/journal_files.h"
#include "ducking/journal_identity.h"

namespace {

// Before an ended run's journal is recovered: its lines that cannot be read are named, and go
// with the rewrite that follows the recovery.
void reportUnreadableLines(const StoredJournal& stored) {
    for (const std::size_t line : stored.unreadableLines) {
        LogLine() << journalUnreadableLine(journalPathText(stored.path), line);
    }
}

// Whether the program a journal file's name says wrote it runs now (this one included): its
// files are never touched by another.
bool namedOwnerRuns(const JournalPath& path, const ProcessIdentity& self) {
    const std::optional<ProcessIdentity> owner = ownerNamedBy(path.filename().string());
    return owner && ownerState(*owner, self) != OwnerState::Ended;
}

}  // namespace

bool OwnJournal::persist(const DuckingLedger& ledger, const std::string& server) {
    if (written_ == ledger.changeCount()) {
        return true;
    }
    if (!journalFolderReady()) {
        // Said once, at the first session that would be lowered: with no folder, none is.
        if (!ledger.empty() && !failureReported_) {
            failureReported_ = true;
            const JournalFolderFailure failure = journalFolderFailure();
            LogLine() << journalWriteFailedLine(failure.folder, failure.error);
        }
        return false;
    }
    const JournalPath path = journalPathOf(self_);
    if (ledger.empty()) {
        removeJournalFile(path);
    } else if (const std::string text = formatJournal(ledger.journal(self_, server, currentBootIdentity()));
               text.size() > kMaxJournalBytes || !replaceJournalFile(path, text)) {
        // A journal its readers would refuse is no journal: what it would add is not lowered.
        const unsigned long error = text.size() > kMaxJournalBytes ? journalTooLargeError() : lastJournalFileError();
        if (!failureReported_) {
            failureReported_ = true;
            LogLine() << journalWriteFailedLine(journalPathText(path), error);
        }
        return false;
    }
    written_ = ledger.changeCount();
    return true;
}

std::vector<JournalPath> journalFiles(JournalFileKind kind) {
    std::vector<JournalPath> paths;
    for (JournalFolderFile& file : journalFolderFiles()) {
        if (journalFileKind(file.name) == kind) {
            paths.push_back(std::move(file.path));
        }
    }
    return paths;
}

std::vector<StoredJournal> readJournals(const ProcessIdentity& self) {
    std::vector<StoredJournal> journals;
    if (!journalFolderReady()) {
        return journals;
    }
    const JournalPath own = journalPathOf(self);
    for (const JournalPath& path : journalFiles(JournalFileKind::Journal)) {
        if (path == own) {
            continue;
        }
        // A running program's journal that this one cannot read (a later program's format) is
        // left where it is: only its owner, or a recovery once it has ended, may touch it.
        if (std::optional<StoredJournal> stored = readJournalAt(path, !namedOwnerRuns(path, self))) {
            journals.push_back(std::move(*stored));
        }
    }
    return journals;
}

std::optional<StoredJournal> readJournalOf(const ProcessIdentity& owner) {
    if (!journalFolderReady()) {
        return std::nullopt;
    }
    return readJournalAt(journalPathOf(owner));
}

std::optional<StoredJournal> readJournalAt(const JournalPath& path, bool setAside) {
    std::string text;
    const JournalFileRead outcome = readJournalFile(path, text);
    if (outcome == JournalFileRead::Gone) {
        return std::nullopt;  // gone meanwhile
    }
    std::optional<ReadJournal> read;
    if (outcome == JournalFileRead::Read) {
        read = parseJournal(text, journalLevelLimit());
    }
    if (!read) {
        if (!setAside) {
            return std::nullopt;
        }
        setJournalFileAside(path);
        LogLine() << journalUnreadableLine(journalPathText(path));
        return std::nullopt;
    }
    return StoredJournal{path, std::move(read->journal), std::move(read->unreadableLines)};
}

void rewriteJournal(const StoredJournal& stored) {
    if (stored.journal.entries.empty()) {
        removeJournalFile(stored.path);
    } else {
        replaceJournalFile(stored.path, formatJournal(stored.journal));
    }
}

void forEachEndedRunJournal(const ProcessIdentity& self, const std::function<void(StoredJournal&)>& recover) {
    const JournalRecoveryLock lock;
    if (!journalFolderReady()) {
        return;
    }
    // A running program's files, as their names say, are never touched; its journal is read only
    // for its boot: one of an earlier boot is an ended run's, whatever runs under its name now.
    for (const JournalPath& temporary : journalFiles(JournalFileKind::Temporary)) {
        const std::optional<ProcessIdentity> writer = writerNamedBy(temporary.filename().string());
        if (writer && ownerState(*writer, self) == OwnerState::Ended) {
            removeJournalFile(temporary);  // its writer ended before the rename
        }
    }
    for (const JournalPath& path : journalFiles(JournalFileKind::Journal)) {
        std::optional<StoredJournal> stored = readJournalAt(path, !namedOwnerRuns(path, self));
        if (!stored || ownerState(stored->journal, self) != OwnerState::Ended) {
            continue;
        }
        reportUnreadableLines(*stored);
        recover(*stored);
    }
}

void forJournalOf(const ProcessIdentity& owner, const std::function<void(StoredJournal&)>& recover) {
    const JournalRecoveryLock lock;
    if (std::optional<StoredJournal> stored = readJournalOf(owner)) {
        reportUnreadableLines(*stored);
        recover(*stored);
    }
}
