#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ducking/process_table.h"

// Name rules of the two listings.

// The executable name in a session instance identifier: the first ".exe" (or, when there is
// none, the first ".EXE") with the run of letters, digits, '.', '-' and '_' before it.
// Nothing when neither occurs or the extension starts the identifier.
std::optional<std::wstring> parseExeNameFromInstanceId(const std::wstring& instanceId);

// The process of that name: the first, in ascending id order, whose parent is missing or has
// another name (the top of a chain of same-named processes); else the first of that name.
// Never id 0.
std::optional<std::uint32_t> resolvePidByName(const std::wstring& name, const ProcessTable& table);

// A session dropped from the list: no process, the program itself, the audio engine or a
// service host, or an excluded name.
bool isHiddenSession(std::uint32_t pid, const std::wstring& name, std::uint32_t ownPid);

// An application dropped from the list by its executable name.
bool isHiddenApp(const std::wstring& exe);

// The executable name without its last extension; empty when the name is empty or its only
// '.' comes first.
std::wstring displayNameFromExe(const std::wstring& exe);
