#pragma once

#include <optional>
#include <string>

#include "common/process_identity.h"

// The names of the journal folder's files, the same on every platform:
//   journal2-<pid>-<creation time>.journal   a program's journal (version 2)
//   journal-<pid>-<creation time>.txt        an earlier program's journal (version 1), a name
//                                            that pattern never gives a version 2 journal
//   either with .tmp as its extension        its writer's temporary file
//   any of them with .unreadable added       set aside for a person to read

std::string journalFileName(const ProcessIdentity& owner);
// The owner a journal's or temporary file's name gives, of either version.
std::optional<ProcessIdentity> ownerNamedBy(const std::string& name);

enum class JournalFileKind { Journal, Temporary, Other };
JournalFileKind journalFileKind(const std::string& name);

inline constexpr char kTemporaryJournalExtension[] = ".tmp";
inline constexpr char kSetAsideSuffix[] = ".unreadable";
