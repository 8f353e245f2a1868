// The journals' files, the Windows way: SHGetKnownFolderPath(FOLDERID_LocalAppData)\Quillmere\ducking,
// each file replaced whole by a rename; a durable write is flushed and renamed write-through.

#include "ducking/journal_files.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdint>

#include "ducking/ducking_journal.h"
#include "common/text.h"
#include "common/handles_windows.h"

namespace {

constexpr DWORD kRecoveryLockTimeoutMs = 10000;

const std::wstring& journalFolder() {
    static const std::wstring folder = [] {
        wchar_t* base = nullptr;
        const HRESULT hr = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base);
        const std::wstring localAppData = takeTaskMemString(base);
        if (FAILED(hr) || localAppData.empty()) {
            return std::wstring();
        }
        const std::wstring program = localAppData + L"\\Quillmere";
        CreateDirectoryW(program.c_str(), nullptr);
        const std::wstring journals = program + L"\\ducking";
        CreateDirectoryW(journals.c_str(), nullptr);
        return journals;
    }();
    return folder;
}

}  // namespace

bool journalFolderReady() {
    return !journalFolder().empty();
}

JournalPath journalPathOf(const ProcessIdentity& owner) {
    return journalFolder() + L"\\journal-" + std::to_wstring(owner.pid) + L"-" + std::to_wstring(owner.creationTime) +
           L".txt";
}

std::vector<JournalPath> journalPaths() {
    std::vector<JournalPath> paths;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((journalFolder() + L"\\journal-*.txt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return paths;
    }
    do {
        paths.push_back(journalFolder() + L"\\" + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return paths;
}

std::optional<std::string> readJournalFile(const JournalPath& journal) {
    const std::wstring& path = journal.native();
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            return text;
        }
        text.append(buffer, got);
        if (text.size() > kMaxJournalBytes) {
            return text;
        }
    }
}

bool replaceJournalFile(const JournalPath& journal, const std::string& text, JournalWrite write) {
    const std::wstring& path = journal.native();
    const std::wstring temporary = path.substr(0, path.size() - 4) + L".tmp";
    {
        const UniqueHandle file(
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || (write == JournalWrite::Durable && !FlushFileBuffers(file.get()))) {
            return false;
        }
    }
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (write == JournalWrite::Durable ? MOVEFILE_WRITE_THROUGH : 0);
    return MoveFileExW(temporary.c_str(), path.c_str(), flags) != 0;
}

void removeJournalFile(const JournalPath& journal) {
    const std::wstring& path = journal.native();
    DeleteFileW(path.c_str());
}

void setJournalFileAside(const JournalPath& journal) {
    const std::wstring& path = journal.native();
    MoveFileExW(path.c_str(), (path + L".unreadable").c_str(), MOVEFILE_REPLACE_EXISTING);
}

unsigned long lastJournalFileError() {
    return GetLastError();
}

std::string journalPathText(const JournalPath& journal) {
    const std::wstring& path = journal.native();
    return wideToUtf8(path);
}

JournalRecoveryLock::JournalRecoveryLock()
    : lock_(reinterpret_cast<std::intptr_t>(CreateMutexW(nullptr, FALSE, L"Local\\QuillmereDuckingJournalRecovery"))),
      owned_(false) {
    if (lock_ != 0) {
        const DWORD waited = WaitForSingleObject(reinterpret_cast<HANDLE>(lock_), kRecoveryLockTimeoutMs);
        owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
}

JournalRecoveryLock::~JournalRecoveryLock() {
    if (owned_) {
        ReleaseMutex(reinterpret_cast<HANDLE>(lock_));
    }
    if (lock_ != 0) {
        CloseHandle(reinterpret_cast<HANDLE>(lock_));
    }
}
