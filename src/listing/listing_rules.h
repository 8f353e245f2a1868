#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/process_table.h"

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

// The name an application is listed under: its file description, or else its executable name
// without the extension. Empty when it has neither: the application is not listed.
std::wstring appDisplayName(const std::wstring& fileDescription, const std::wstring& exe);

// What the session listing makes of one session, step by step, so that each step can be logged.
struct SessionNaming {
    // The name the process table gives the session's process (only for a process id that the
    // call returned, that is not 0 and not the program's own).
    std::wstring tableName;
    // Without a table name: the executable name found in the instance identifier.
    std::optional<std::wstring> parsedName;
    // The name the session goes by: the table's, else the parsed one; empty: not listed.
    std::wstring name;
    // For a process id of 0 or one the table does not hold: the process found by that name.
    std::optional<std::uint32_t> resolvedPid;
    // The record the listing keeps, unless the session has no name or is hidden.
    struct Record {
        std::uint32_t pid;
        std::wstring name;
    };
    std::optional<Record> record;
};
SessionNaming nameSession(std::uint32_t pid, bool pidKnown, const std::wstring& instanceId, const ProcessTable& table,
                          std::uint32_t ownPid);
