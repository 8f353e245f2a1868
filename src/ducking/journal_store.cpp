#include "ducking/journal_store.h"

#include <cstdint>

#include "common/log.h"
#include "common/protocol_text.h"
#include "ducking/ducking_ledger.h"
#include "ducking/journal_files.h"

namespace {

std::optional<Journal> readOrSetAside(const JournalPath& path) {
    const std::optional<std::string> text = readJournalFile(path);
    if (!text) {
        return std::nullopt;  // gone meanwhile, or not ours to read
    }
    std::optional<Journal> journal = parseJournal(*text);
    if (!journal) {
        setJournalFileAside(path);
        LogLine() << kJournalUnreadablePrefix << journalPathText(path);
    }
    return journal;
}

}  // namespace

void OwnJournal::persist(const DuckingLedger& ledger, JournalWrite write) {
    if (ledger.changeCount() == written_ || !journalFolderReady()) {
        return;
    }
    written_ = ledger.changeCount();
    const JournalPath path = journalPathOf(self_);
    if (ledger.empty()) {
        removeJournalFile(path);
        return;
    }
    if (!replaceJournalFile(path, formatJournal(ledger.journal(self_)), write)) {
        const unsigned long error = lastJournalFileError();
        if (!failureReported_) {
            failureReported_ = true;
            LogLine() << kJournalWriteFailedPrefix << journalPathText(path) << " error=" << error;
        }
    }
}

std::vector<StoredJournal> readJournals() {
    std::vector<StoredJournal> journals;
    if (!journalFolderReady()) {
        return journals;
    }
    for (const JournalPath& path : journalPaths()) {
        if (std::optional<Journal> journal = readOrSetAside(path)) {
            journals.push_back({path, std::move(*journal)});
        }
    }
    return journals;
}

std::optional<StoredJournal> readJournalOf(const ProcessIdentity& owner) {
    if (!journalFolderReady()) {
        return std::nullopt;
    }
    const JournalPath path = journalPathOf(owner);
    std::optional<Journal> journal = readOrSetAside(path);
    if (!journal) {
        return std::nullopt;
    }
    return StoredJournal{path, std::move(*journal)};
}

void rewriteJournal(const StoredJournal& stored) {
    if (stored.journal.entries.empty()) {
        removeJournalFile(stored.path);
    } else {
        replaceJournalFile(stored.path, formatJournal(stored.journal), JournalWrite::Ordinary);
    }
}

void forEachEndedRunJournal(const ProcessIdentity& self, const std::function<void(StoredJournal&)>& recover) {
    const JournalRecoveryLock lock;
    for (StoredJournal& stored : readJournals()) {
        if (!(stored.journal.owner == self) && !isProcessAlive(stored.journal.owner)) {
            recover(stored);
        }
    }
}

void forJournalOf(const ProcessIdentity& owner, const std::function<void(StoredJournal&)>& recover) {
    const JournalRecoveryLock lock;
    if (std::optional<StoredJournal> stored = readJournalOf(owner)) {
        recover(*stored);
    }
}
