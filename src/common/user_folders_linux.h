#pragma once

#include <string>

// The user's own folders on Linux.

// Creates the folder, for the user alone (0700), unless it exists.
void makePrivateFolder(const std::string& path);

// The user's base folder for one kind of files, by the XDG Base Directory rules: $<variable> when
// it holds an absolute path; else <home>/<belowHome>, with the home folder of the user's passwd
// entry ($HOME is not read) when that is an absolute path; empty when there is neither.
// MakeMissing: the folder is created (makePrivateFolder), and below the home so is each folder
// on the way to it.
enum class FolderMaking { FindOnly, MakeMissing };
std::string userBaseFolder(const char* variable, const std::string& belowHome,
                           FolderMaking making = FolderMaking::FindOnly);
