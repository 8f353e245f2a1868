#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/process_identity.h"
#include "ducking/journal_store.h"

// The file operations beneath the journal store, one implementation per platform.

// False when the user has no folder for such state; the folder is created on first use.
bool journalFolderReady();
JournalPath journalPathOf(const ProcessIdentity& owner);
// Every journal file in the folder (journal-*.txt).
std::vector<JournalPath> journalPaths();
// The whole file, or nothing; never more than one byte past the journal's size limit.
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
