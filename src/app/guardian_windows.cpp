#include "app/guardian.h"

#include <windows.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "common/log.h"
#include "common/path_limit_windows.h"
#include "common/process_identity_windows.h"
#include "common/protocol_text.h"
#include "common/handles_windows.h"
#include "common/text.h"
#include "ducking/journal_recovery.h"
#include "ducking/journal_store.h"
#include "ducking/session_volumes_windows.h"

namespace {

std::wstring ownExecutablePath() {
    std::wstring path(kLongestPathLength, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

// Starts a copy of this program with these arguments, the way both hops to the guardian are
// started: no console, the null device as its only inherited handle (it never holds the host's
// pipes open), out of the program's job when the job allows it. Returns its process, or null
// with the reason in `error`.
UniqueHandle startDetachedCopy(const std::wstring& arguments, DWORD& error) {
    const std::wstring program = ownExecutablePath();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;

    // The child's standard handles are the null device, and they are all it inherits: the
    // host's pipes must end when this program ends. (Wine gives a child without standard
    // handles its parent's descriptors; our own standard handles stop being inheritable too.)
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, 0);
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inheritable, OPEN_EXISTING, 0, nullptr));
    HANDLE inherited = nul.get();
    SIZE_T attributesSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributesSize);
    std::vector<unsigned char> attributes(attributesSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (nul.get() == INVALID_HANDLE_VALUE || !InitializeProcThreadAttributeList(list, 1, 0, &attributesSize) ||
        !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited, sizeof inherited, nullptr,
                                   nullptr)) {
        error = GetLastError();
        return nullptr;
    }
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nul.get();
    startup.StartupInfo.hStdOutput = nul.get();
    startup.StartupInfo.hStdError = nul.get();
    startup.lpAttributeList = list;
    PROCESS_INFORMATION process = {};
    // Out of the job first: a job that kills its processes when the host goes must not take the
    // guardian with it. A job that forbids breaking away refuses that; then inside it.
    constexpr DWORD kFlags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | EXTENDED_STARTUPINFO_PRESENT;
    const auto start = [&](DWORD flags) {
        return CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                              &startup.StartupInfo, &process);
    };
    BOOL started = start(kFlags | CREATE_BREAKAWAY_FROM_JOB);
    if (!started && GetLastError() == ERROR_ACCESS_DENIED) {
        started = start(kFlags);
    }
    error = started ? 0 : GetLastError();
    DeleteProcThreadAttributeList(list);
    if (!started) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return UniqueHandle(process.hProcess);
}

// The option, then the program that is guarded.
std::wstring guardianArguments(const char* option, const ProcessIdentity& owner) {
    return utf8ToWide(option) + L" " + std::to_wstring(owner.pid) + L" " + std::to_wstring(owner.creationTime);
}

}  // namespace

void startGuardian() {
    DWORD error = 0;
    const UniqueHandle starter =
        startDetachedCopy(guardianArguments(kGuardianStarterOption, currentProcessIdentity()), error);
    if (starter) {
        // Nothing is lowered before the starter has gone: from then on no walk down the
        // process tree from the host reaches the guardian. It says how the start went.
        constexpr DWORD kStarterWaitMs = 5000;
        const DWORD waited = WaitForSingleObject(starter.get(), kStarterWaitMs);
        if (waited == WAIT_TIMEOUT) {
            error = WAIT_TIMEOUT;
        } else if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(starter.get(), &error)) {
            error = GetLastError();
        }
    }
    if (error != 0) {
        LogLine() << kGuardianNotStartedPrefix << error;
    }
}

int startGuardianFor(const ProcessIdentity& owner) {
    DWORD error = 0;
    startDetachedCopy(guardianArguments(kGuardianOption, owner), error);
    return static_cast<int>(error);
}

int runGuardian(const ProcessIdentity& owner) {
    // Opened while the program runs; if it has ended already (or the id is another process's
    // now), there is nothing to wait for.
    if (const UniqueHandle program = openProcessOf(owner)) {
        WaitForSingleObject(program.get(), INFINITE);
    }
    if (!readJournalOf(owner)) {
        return 0;  // ended in order: nothing left to put back
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    {
        WindowsSessionVolumes sessions;
        recoverJournalOf(sessions, owner);
    }
    CoUninitialize();
    return 0;
}
