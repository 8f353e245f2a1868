#include <windows.h>
#include <tlhelp32.h>

#include "common/handles_windows.h"
#include "common/process_table.h"

ProcessTable snapshotProcesses() {
    ProcessTable table;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return table;
    }
    const UniqueHandle owner(snapshot);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        // A later entry with the same id replaces the earlier one.
        table[entry.th32ProcessID] = {entry.th32ParentProcessID, entry.szExeFile};
    }
    return table;
}
