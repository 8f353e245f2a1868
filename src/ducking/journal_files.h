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

// A durable write reaches the disk before it returns, so that even a power loss keeps it.
enum class JournalWrite { Durable, Ordinary };

// False when the user has no folder for such state; the folder is created on first use.
bool journalFolderReady();
JournalPath journalPathOf(const ProcessIdentity& owner);
// Every journal file in the folder (journal-*.txt).
std::vector<JournalPath> journalPaths();
// The whole file, or nothing; reading stops soon after the journal's size limit is passed.
std::optional<std::string> readJournalFile(const JournalPath& path);
// Writes a temporary file beside the journal, then renames it over the journal.
bool replaceJournalFile(const JournalPath& path, const std::string& text, JournalWrite write);
void removeJournalFile(const JournalPath& path);
// Renames it with ".unreadable" added, kept for a person to read.
void setJournalFileAside(const JournalPath& path);
// The system's number for the last file operation's failure.
unsigned long lastJournalFileError();
// The path as UTF-8, for the log.
std::string journalPathText(const JournalPath& path);

// Held while a journal of an ended program is recovered, so that two processes (a guardian, a
// starting capture) never recover the same one at once.
class JournalRecoveryLock {
public:
    JournalRecoveryLock();
    ~JournalRecoveryLock();
    JournalRecoveryLock(const JournalRecoveryLock&) = delete;
    JournalRecoveryLock& operator=(const JournalRecoveryLock&) = delete;

private:
    std::intptr_t lock_;  // a mutex handle (Windows), a locked file's descriptor (Linux)
    bool owned_;
};
