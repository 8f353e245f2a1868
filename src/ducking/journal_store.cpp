#include "ducking/journal_store.h"

#include <charconv>
#include <cstdint>
#include <system_error>
#include <utility>

#include "common/log.h"
#include "common/protocol_text.h"
#include "ducking/ducking_ledger.h"
#include "ducking/journal_files.h"

namespace {

std::optional<ReadJournal> readOrSetAside(const JournalPath& path) {
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
        setJournalFileAside(path);
        LogLine() << kJournalUnreadablePrefix << journalPathText(path);
    }
    return read;
}

// Before an ended run's journal is recovered: its lines that cannot be read are named, and go
// with the rewrite that follows the recovery.
void reportUnreadableLines(const StoredJournal& stored) {
    for (const std::size_t line : stored.unreadableLines) {
        LogLine() << kJournalUnreadablePrefix << journalPathText(stored.path) << " line " << line;
    }
}

}  // namespace

bool OwnJournal::persist(const DuckingLedger& ledger, const std::string& server) {
    if (written_ == ledger.changeCount()) {
        return true;
    }
    if (!journalFolderReady()) {
        return false;
    }
    const JournalPath path = journalPathOf(self_);
    if (ledger.empty()) {
        removeJournalFile(path);
    } else if (!replaceJournalFile(path, formatJournal(ledger.journal(self_, server)))) {
        const unsigned long error = lastJournalFileError();
        if (!failureReported_) {
            failureReported_ = true;
            LogLine() << kJournalWriteFailedPrefix << journalPathText(path) << " error=" << error;
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

std::vector<StoredJournal> readJournals() {
    std::vector<StoredJournal> journals;
    if (!journalFolderReady()) {
        return journals;
    }
    for (const JournalPath& path : journalFiles(JournalFileKind::Journal)) {
        if (std::optional<ReadJournal> read = readOrSetAside(path)) {
            journals.push_back({path, std::move(read->journal), std::move(read->unreadableLines)});
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

std::optional<StoredJournal> readJournalAt(const JournalPath& path) {
    std::optional<ReadJournal> read = readOrSetAside(path);
    if (!read) {
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

std::optional<ProcessIdentity> ownerNamedBy(const JournalPath& path) {
    const std::string name = path.filename().string();
    const std::size_t dash = name.find('-');
    const std::size_t second = name.find('-', dash + 1);
    const std::size_t dot = name.find('.', second + 1);
    if (dash == std::string::npos || second == std::string::npos || dot == std::string::npos) {
        return std::nullopt;
    }
    ProcessIdentity owner;
    const char* text = name.data();
    const auto pid = std::from_chars(text + dash + 1, text + second, owner.pid);
    const auto time = std::from_chars(text + second + 1, text + dot, owner.creationTime);
    if (pid.ec != std::errc() || pid.ptr != text + second || time.ec != std::errc() || time.ptr != text + dot) {
        return std::nullopt;
    }
    return owner;
}

void forEachEndedRunJournal(const ProcessIdentity& self, const std::function<void(StoredJournal&)>& recover) {
    const JournalRecoveryLock lock;
    if (!journalFolderReady()) {
        return;
    }
    // A running program's files, as their names say, are neither read nor touched.
    const auto running = [&self](const JournalPath& path) {
        const std::optional<ProcessIdentity> owner = ownerNamedBy(path);
        return owner && (*owner == self || isProcessAlive(*owner));
    };
    for (const JournalPath& temporary : journalFiles(JournalFileKind::Temporary)) {
        if (!running(temporary)) {
            removeJournalFile(temporary);  // its writer ended before the rename
        }
    }
    for (const JournalPath& path : journalFiles(JournalFileKind::Journal)) {
        if (running(path)) {
            continue;
        }
        std::optional<ReadJournal> read = readOrSetAside(path);
        if (!read || read->journal.owner == self || isProcessAlive(read->journal.owner)) {
            continue;
        }
        StoredJournal stored{path, std::move(read->journal), std::move(read->unreadableLines)};
        reportUnreadableLines(stored);
        recover(stored);
    }
}

void forJournalOf(const ProcessIdentity& owner, const std::function<void(StoredJournal&)>& recover) {
    const JournalRecoveryLock lock;
    if (std::optional<StoredJournal> stored = readJournalOf(owner)) {
        reportUnreadableLines(*stored);
        recover(*stored);
    }
}
