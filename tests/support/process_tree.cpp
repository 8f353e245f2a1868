#include "support/process_tree.h"

#include <tlhelp32.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "support/host_process.h"

namespace {

// The id of a process whose parent is `parent`, or 0.
DWORD findChild(DWORD parent) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD child = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && child == 0; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent) {
            child = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return child;
}

}  // namespace

ProcessTree::ProcessTree(int depth, const std::string& exeName) {
    std::string path = testBinDir() + "\\tree_helper.exe";
    if (exeName != "tree_helper.exe") {
        char directory[MAX_PATH];
        GetTempPathA(MAX_PATH, directory);
        const std::string copy = std::string(directory) + exeName;
        CopyFileA(path.c_str(), copy.c_str(), FALSE);
        path = copy;
    }
    std::string commandLine = "\"" + path + "\" " + std::to_string(depth);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        throw std::runtime_error("cannot start " + path);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    pids_.push_back(process.dwProcessId);
    while (static_cast<int>(pids_.size()) <= depth) {
        DWORD child = 0;
        for (int attempt = 0; attempt < 200 && child == 0; ++attempt) {
            child = findChild(pids_.back());
            if (child == 0) {
                Sleep(10);
            }
        }
        if (child == 0) {
            throw std::runtime_error("the helper's child did not appear");
        }
        pids_.push_back(child);
    }
}

ProcessTree::~ProcessTree() {
    for (DWORD pid : pids_) {
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
}

int terminateEverythingBelow(DWORD host) {
    std::vector<PROCESSENTRY32W> entries;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        entries.push_back(entry);
    }
    CloseHandle(snapshot);
    std::vector<DWORD> below = {host};
    for (std::size_t next = 0; next < below.size(); ++next) {
        for (const PROCESSENTRY32W& candidate : entries) {
            if (candidate.th32ParentProcessID == below[next] &&
                std::find(below.begin(), below.end(), candidate.th32ProcessID) == below.end()) {
                below.push_back(candidate.th32ProcessID);
            }
        }
    }
    std::vector<HANDLE> opened;
    for (std::size_t i = 1; i < below.size(); ++i) {
        if (const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, below[i])) {
            opened.push_back(process);
        }
    }
    for (const HANDLE process : opened) {
        TerminateProcess(process, 1);
    }
    for (const HANDLE process : opened) {
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    return static_cast<int>(opened.size());
}
