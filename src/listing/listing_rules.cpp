#include "listing/listing_rules.h"

#include "common/text.h"

namespace {

bool isNameCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' || c == L'-' ||
           c == L'_';
}

}  // namespace

std::optional<std::wstring> parseExeNameFromInstanceId(const std::wstring& instanceId) {
    std::size_t extension = instanceId.find(L".exe");
    if (extension == std::wstring::npos) {
        extension = instanceId.find(L".EXE");
    }
    if (extension == std::wstring::npos || extension == 0) {
        return std::nullopt;
    }
    std::size_t start = extension;
    while (start > 0 && isNameCharacter(instanceId[start - 1])) {
        --start;
    }
    return instanceId.substr(start, extension - start + 4);
}

std::optional<std::uint32_t> resolvePidByName(const std::wstring& name, const ProcessTable& table) {
    for (const auto& [pid, entry] : table) {
        if (!namesEqual(entry.exeName, name)) {
            continue;
        }
        const auto parent = table.find(entry.parentPid);
        if (parent == table.end() || !namesEqual(parent->second.exeName, name)) {
            if (pid != 0) {
                return pid;
            }
            break;
        }
    }
    for (const auto& [pid, entry] : table) {
        if (namesEqual(entry.exeName, name)) {
            return pid == 0 ? std::nullopt : std::optional<std::uint32_t>(pid);
        }
    }
    return std::nullopt;
}

bool isHiddenSession(std::uint32_t pid, const std::wstring& name, std::uint32_t ownPid) {
    return pid == 0 || pid == ownPid || namesEqual(name, L"audiodg.exe") || namesEqual(name, L"svchost.exe") ||
           isExcludedProcessName(name);
}

bool isHiddenApp(const std::wstring& exe) {
    return isExcludedProcessName(exe) || namesEqual(exe, L"explorer.exe") ||
           namesEqual(exe, L"applicationframehost.exe") || namesEqual(exe, L"textinputhost.exe");
}

std::wstring displayNameFromExe(const std::wstring& exe) {
    const std::size_t dot = exe.rfind(L'.');
    return dot == std::wstring::npos ? exe : exe.substr(0, dot);
}

std::wstring appDisplayName(const std::wstring& fileDescription, const std::wstring& exe) {
    return fileDescription.empty() ? displayNameFromExe(exe) : fileDescription;
}

SessionNaming nameSession(std::uint32_t pid, bool pidKnown, const std::wstring& instanceId, const ProcessTable& table,
                          std::uint32_t ownPid) {
    SessionNaming naming;
    if (pidKnown && pid != 0 && pid != ownPid) {
        const auto entry = table.find(pid);
        if (entry != table.end()) {
            naming.tableName = entry->second.exeName;
        }
    }
    naming.name = naming.tableName;
    if (naming.name.empty() && !instanceId.empty()) {
        naming.parsedName = parseExeNameFromInstanceId(instanceId);
        if (naming.parsedName) {
            naming.name = *naming.parsedName;
        }
    }
    if (naming.name.empty()) {
        return naming;
    }
    if (pid == 0 || table.find(pid) == table.end()) {
        naming.resolvedPid = resolvePidByName(naming.name, table);
        if (naming.resolvedPid) {
            pid = *naming.resolvedPid;
        }
    }
    if (!isHiddenSession(pid, naming.name, ownPid)) {
        naming.record = SessionNaming::Record{pid, naming.name};
    }
    return naming;
}
