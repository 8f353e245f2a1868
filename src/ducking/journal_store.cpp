#include "ducking/journal_store.h"

#include <cstdint>

#include "common/log.h"
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
        LogLine() << "[win-helper] Ignoring unreadable ducking journal: " << journalPathText(path);
    }
    return journal;
}

}  // namespace

void persistLedgerJournal(JournalWrite write) {
    static std::uint64_t written = 0;
    static const ProcessIdentity self = currentProcessIdentity();
    if (g_savedVolumes.changeCount() == written || !journalFolderReady()) {
        return;
    }
    written = g_savedVolumes.changeCount();
    const JournalPath path = journalPathOf(self);
    if (g_savedVolumes.empty()) {
        removeJournalFile(path);
        return;
    }
    if (!replaceJournalFile(path, formatJournal(g_savedVolumes.journal(self)), write)) {
        const unsigned long error = lastJournalFileError();
        static bool reported = false;
        if (!reported) {
            reported = true;
            LogLine() << "[win-helper] Failed to write ducking journal: " << journalPathText(path)
                      << " error=" << error;
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

void forEachEndedRunJournal(const std::function<void(StoredJournal&)>& recover) {
    const JournalRecoveryLock lock;
    const ProcessIdentity self = currentProcessIdentity();
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
