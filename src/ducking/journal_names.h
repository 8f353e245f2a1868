#pragma once

#include <optional>
#include <string>

#include "common/process_identity.h"

// The names of the journal folder's files, the same on every platform:
//   journal2-<pid>-<creation time>.journal   a program's journal (version 2)
//   journal-<pid>-<creation time>.txt        an earlier program's journal (version 1), a name
//                                            that pattern never gives a version 2 journal
//   <journal's name>.<pid>-<creation time>.tmp  a temporary file of the journal's, named by its
//                                            writer (the owner, or a recovery), so that no two
//                                            writers ever share one
//   either with .tmp as its extension        an earlier program's temporary file
//   any of them with .unreadable added       set aside for a person to read

std::string journalFileName(const ProcessIdentity& owner);
// The owner a journal's or temporary file's name gives, of either version.
std::optional<ProcessIdentity> ownerNamedBy(const std::string& name);
// The temporary file that `writer` writes a journal (by its file name) in before its rename.
std::string temporaryJournalName(const std::string& journalName, const ProcessIdentity& writer);
// The writer a temporary file's name gives: the one it names, or in an earlier program's name,
// the owner.
std::optional<ProcessIdentity> writerNamedBy(const std::string& temporaryName);

enum class JournalFileKind { Journal, Temporary, Other };
JournalFileKind journalFileKind(const std::string& name);

inline constexpr char kTemporaryJournalExtension[] = ".tmp";
inline constexpr char kSetAsideSuffix[] = ".unreadable";
