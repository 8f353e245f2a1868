// A stand-in host that goes away: "launcher.exe MS PROGRAM ARGS..." starts the program with its
// own standard handles (the test's pipes), writes "launched PID" to standard error, and ends
// after MS milliseconds while the program runs on.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return 2;
    }
    std::wstring commandLine;
    for (int i = 2; i < argc; ++i) {
        commandLine += (i > 2 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(argv[2], commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
        return 3;
    }
    std::fprintf(stderr, "launched %lu\n", static_cast<unsigned long>(child.dwProcessId));
    std::fflush(stderr);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    Sleep(static_cast<DWORD>(_wtoi(argv[1])));
    return 0;
}
