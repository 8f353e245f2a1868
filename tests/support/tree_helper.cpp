// A stand-in application for process-tree tests: started with a depth, it starts a copy of
// itself with one less, so depth 1 gives a parent and its child. Each sleeps until killed.

#include <windows.h>

#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const int depth = argc > 1 ? _wtoi(argv[1]) : 0;
    if (depth > 0) {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring commandLine = L"\"" + std::wstring(path) + L"\" " + std::to_wstring(depth - 1);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        if (CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
            CloseHandle(child.hThread);
            CloseHandle(child.hProcess);
        }
    }
    Sleep(120000);
    return 0;
}
