// The journals' files, the Windows way: SHGetKnownFolderPath(FOLDERID_LocalAppData)\Quillmere\ducking,
// each file replaced whole by a rename: flushed, then renamed write-through.

#include "ducking/journal_files.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdint>
#include <initializer_list>

#include "ducking/ducking_journal.h"
#include "ducking/journal_names.h"
#include "common/text.h"
#include "common/handles_windows.h"

namespace {

constexpr DWORD kRecoveryLockTimeoutMs = 10000;

JournalFolderFailure folderFailure{{}, ERROR_PATH_NOT_FOUND};

const std::wstring& journalFolder() {
    static const std::wstring folder = [] {
        wchar_t* base = nullptr;
        const HRESULT hr = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base);
        const std::wstring localAppData = takeTaskMemString(base);
        if (FAILED(hr) || localAppData.empty()) {
            folderFailure.error = static_cast<unsigned long>(hr);
            return std::wstring();
        }
        const std::wstring program = localAppData + L"\\Quillmere";
        const std::wstring journals = program + L"\\ducking";
        DWORD madeError = ERROR_SUCCESS;  // the first folder that could not be made says why
        for (const std::wstring* made : {&program, &journals}) {
            if (!CreateDirectoryW(made->c_str(), nullptr) && madeError == ERROR_SUCCESS &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                madeError = GetLastError();
            }
        }
        const DWORD attributes = GetFileAttributesW(journals.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            folderFailure = {wideToUtf8(journals), madeError != ERROR_SUCCESS ? madeError : ERROR_DIRECTORY};
            return std::wstring();
        }
        return journals;
    }();
    return folder;
}

}  // namespace

bool journalFolderReady() {
    return !journalFolder().empty();
}

JournalFolderFailure journalFolderFailure() {
    journalFolder();
    return folderFailure;
}

JournalPath journalPathOf(const ProcessIdentity& owner) {
    const std::string name = journalFileName(owner);
    return journalFolder() + L"\\" + std::wstring(name.begin(), name.end());
}

float journalLevelLimit() {
    return 1.0f;
}

namespace {

// A file name in ASCII, as the naming rule reads it; any other character makes it no journal's.
std::string asciiName(const wchar_t* name) {
    std::string ascii;
    for (; *name != L'\0'; ++name) {
        ascii.push_back(*name < 0x80 ? static_cast<char>(*name) : '\0');
    }
    return ascii;
}

}  // namespace

std::vector<JournalFolderFile> journalFolderFiles() {
    std::vector<JournalFolderFile> files;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((journalFolder() + L"\\journal*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        files.push_back({asciiName(found.cFileName), journalFolder() + L"\\" + found.cFileName});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

JournalFileRead readJournalFile(const JournalPath& journal, std::string& text) {
    const std::wstring& path = journal.native();
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return JournalFileRead::Gone;
    }
    text.clear();
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            return JournalFileRead::Gone;
        }
        if (got == 0) {
            return JournalFileRead::Read;
        }
        text.append(buffer, got);
        if (text.size() > kMaxJournalBytes) {
            return JournalFileRead::Read;
        }
    }
}

bool replaceJournalFile(const JournalPath& journal, const std::string& text) {
    const std::wstring& path = journal.native();
    // Named by its writer: a recovery that went on without the lock never shares one.
    static const ProcessIdentity self = currentProcessIdentity();
    const std::wstring temporary =
        (journal.parent_path() / temporaryJournalName(journal.filename().string(), self)).native();
    {
        const UniqueHandle file(
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get())) {
            return false;
        }
    }
    return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void removeJournalFile(const JournalPath& journal) {
    const std::wstring& path = journal.native();
    DeleteFileW(path.c_str());
}

void setJournalFileAside(const JournalPath& journal) {
    const std::wstring& path = journal.native();
    const std::wstring aside = path + std::wstring(kSetAsideSuffix, kSetAsideSuffix + sizeof kSetAsideSuffix - 1);
    MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING);
}

unsigned long lastJournalFileError() {
    return GetLastError();
}

unsigned long journalTooLargeError() {
    return ERROR_FILE_TOO_LARGE;
}

std::string journalPathText(const JournalPath& journal) {
    const std::wstring& path = journal.native();
    return wideToUtf8(path);
}

JournalRecoveryLock::JournalRecoveryLock(Wait wait)
    : lock_(reinterpret_cast<std::intptr_t>(CreateMutexW(nullptr, FALSE, L"Local\\QuillmereDuckingJournalRecovery"))),
      owned_(false) {
    if (lock_ != 0) {
        const DWORD waited =
            WaitForSingleObject(reinterpret_cast<HANDLE>(lock_), wait == Wait::No ? 0 : kRecoveryLockTimeoutMs);
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
