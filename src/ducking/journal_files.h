#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/process_identity.h"

// The file operations beneath the journal store, one implementation per platform
// (journal_files_windows.cpp, journal_files_linux.cpp).

// A journal file's path as the system spells it: UTF-16 on Windows, bytes elsewhere.
using JournalPath = std::filesystem::path;

// False when the user has no folder for such state; the folder is created on first use. Linux: it
// is created 0700, and one owned by another user is refused (kJournalFolderNotOwnedPrefix and its
// path, once).
bool journalFolderReady();
// When it is not: the folder tried, as the log writes it (empty when the user has no folder for
// such state at all), and the system's number for why it cannot be used.
struct JournalFolderFailure {
    std::string folder;
    unsigned long error = 0;
};
JournalFolderFailure journalFolderFailure();
// A journal of version 2 is named journal2-<pid>-<creation time>.journal, which the pattern an
// earlier program reads by (journal-*.txt, version 1) does not match: an earlier program never
// sets a newer one's journal aside. Its temporary file beside it ends in .tmp.
JournalPath journalPathOf(const ProcessIdentity& owner);
// The folder's files that may be journals' (at least every one whose name begins with
// "journal"), each with its name as the naming rule (journal_names.h) reads it: its bytes
// (Linux), or in ASCII with every other character read as a NUL (Windows).
struct JournalFolderFile {
    std::string name;
    JournalPath path;
};
std::vector<JournalFolderFile> journalFolderFiles();
// The highest volume a journal's entry may hold here: 1 on Windows, none on Linux.
float journalLevelLimit();
// Reads the whole file into `text`, never more than one byte past the journal's size limit.
// Refused: a file no journal can be (Linux: not a regular file of the user's own, a link), which
// is never read; Gone: no such file, or not readable now.
enum class JournalFileRead { Read, Gone, Refused };
JournalFileRead readJournalFile(const JournalPath& path, std::string& text);
// Writes a temporary file beside the journal, flushes it to the disk, then renames it over the
// journal, the rename reaching the disk too: a power loss leaves the old journal or the new one.
bool replaceJournalFile(const JournalPath& path, const std::string& text);
void removeJournalFile(const JournalPath& path);
// Renames it with ".unreadable" added, kept for a person to read.
void setJournalFileAside(const JournalPath& path);
// The system's number for the last file operation's failure.
unsigned long lastJournalFileError();
// The system's number for a file too large (a journal past kMaxJournalBytes is never written).
unsigned long journalTooLargeError();
// The path as UTF-8, for the log.
std::string journalPathText(const JournalPath& path);

// Held while a journal of an ended program is recovered, so that two processes (a guardian, a
// starting capture) never recover the same one at once.
class JournalRecoveryLock {
public:
    // UpToTenSeconds: goes on without the lock after that; No: one try, for a pass that must not
    // wait.
    enum class Wait { UpToTenSeconds, No };
    explicit JournalRecoveryLock(Wait wait = Wait::UpToTenSeconds);
    ~JournalRecoveryLock();
    JournalRecoveryLock(const JournalRecoveryLock&) = delete;
    JournalRecoveryLock& operator=(const JournalRecoveryLock&) = delete;
    bool owned() const { return owned_; }

private:
    std::intptr_t lock_;  // a mutex handle (Windows), a locked file's descriptor (Linux)
    bool owned_;
};
