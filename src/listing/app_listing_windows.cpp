#include "listing/app_listing.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <set>
#include <vector>

#include "common/path_limit_windows.h"
#include "common/process_identity.h"
#include "common/process_table.h"
#include "common/handles_windows.h"
#include "listing/json_line.h"
#include "listing/listing_rules.h"

namespace {

// EnumWindows callback: adds the window's process to the std::set<DWORD> behind `processes`
// when the window is visible, titled, unowned and not a tool window.
BOOL CALLBACK collectWindowProcess(HWND window, LPARAM processes) {
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr ||
        (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0 || GetWindowTextLengthW(window) == 0) {
        return TRUE;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != 0 && pid != currentProcessId()) {
        reinterpret_cast<std::set<DWORD>*>(processes)->insert(pid);
    }
    return TRUE;
}

// The full Win32 image path of the process; empty on any failure.
std::wstring queryProcessImagePath(DWORD pid) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return {};
    }
    std::wstring path(kLongestPathLength, L'\0');
    DWORD size = kLongestPathLength;
    if (!QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) {
        return {};
    }
    path.resize(size);
    return path;
}

// The file description of the first translation in the file's version information; empty
// when there is none.
std::wstring queryFileDescription(const std::wstring& path) {
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    if (size == 0) {
        return {};
    }
    std::vector<unsigned char> info(size, 0);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data())) {
        return {};
    }
    void* translations = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &translations, &length) || length < 4) {
        return {};
    }
    const auto* first = static_cast<const WORD*>(translations);
    wchar_t subBlock[64];
    std::swprintf(subBlock, 64, L"\\StringFileInfo\\%04x%04x\\FileDescription", first[0], first[1]);
    void* description = nullptr;
    if (!VerQueryValueW(info.data(), subBlock, &description, &length) || length <= 1 || description == nullptr) {
        return {};
    }
    const auto* text = static_cast<const wchar_t*>(description);
    if (text[0] == L'\0') {
        return {};
    }
    return std::wstring(text, length - 1);
}

}  // namespace

void listApps() {
    std::set<DWORD> processes;
    EnumWindows(collectWindowProcess, reinterpret_cast<LPARAM>(&processes));
    const ProcessTable table = snapshotProcesses();
    std::vector<std::string> records;
    for (const DWORD pid : processes) {
        AppRecord app;
        app.pid = pid;
        const auto entry = table.find(pid);
        if (entry != table.end()) {
            app.exe = entry->second.exeName;
        }
        if (isHiddenApp(app.exe)) {
            continue;
        }
        app.path = queryProcessImagePath(pid);
        app.name = appDisplayName(app.path.empty() ? std::wstring() : queryFileDescription(app.path), app.exe);
        if (app.name.empty()) {
            continue;
        }
        records.push_back(appRecord(app));
    }
    writeJsonListLine(records);
}
