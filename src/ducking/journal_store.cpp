#include "ducking/journal_store.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdint>

#include "common/log.h"
#include "common/text.h"
#include "common/win_resources.h"
#include "ducking/ducking_ledger.h"

namespace {

constexpr DWORD kRecoveryLockTimeoutMs = 10000;

// The folder, created on first use; empty when the user has none.
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

std::wstring journalPath(const ProcessIdentity& owner) {
    return journalFolder() + L"\\journal-" + std::to_wstring(owner.pid) + L"-" + std::to_wstring(owner.creationTime) +
           L".txt";
}

// The whole file, or nothing; never more than one byte past the journal's size limit.
std::optional<std::string> readSmallFile(const std::wstring& path) {
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

// Writes a temporary file beside the journal, then renames it over the journal.
bool replaceFile(const std::wstring& path, const std::string& text, JournalWrite write = JournalWrite::Ordinary) {
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

void setAside(const std::wstring& path) {
    const std::wstring asideName = path + L".unreadable";
    MoveFileExW(path.c_str(), asideName.c_str(), MOVEFILE_REPLACE_EXISTING);
    LogLine() << "[win-helper] Ignoring unreadable ducking journal: " << wideToUtf8(path);
}

std::optional<Journal> readOrSetAside(const std::wstring& path) {
    const std::optional<std::string> text = readSmallFile(path);
    if (!text) {
        return std::nullopt;  // gone meanwhile, or not ours to read
    }
    std::optional<Journal> journal = parseJournal(*text);
    if (!journal) {
        setAside(path);
    }
    return journal;
}

}  // namespace

void persistLedgerJournal(JournalWrite write) {
    static std::uint64_t written = 0;
    static const ProcessIdentity self = currentProcessIdentity();
    if (g_savedVolumes.changeCount() == written || journalFolder().empty()) {
        return;
    }
    written = g_savedVolumes.changeCount();
    const std::wstring path = journalPath(self);
    if (g_savedVolumes.empty()) {
        DeleteFileW(path.c_str());
        return;
    }
    if (!replaceFile(path, formatJournal(g_savedVolumes.journal(self)), write)) {
        static bool reported = false;
        if (!reported) {
            reported = true;
            LogLine() << "[win-helper] Failed to write ducking journal: " << wideToUtf8(path)
                      << " error=" << GetLastError();
        }
    }
}

std::vector<StoredJournal> readJournals() {
    std::vector<StoredJournal> journals;
    if (journalFolder().empty()) {
        return journals;
    }
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((journalFolder() + L"\\journal-*.txt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return journals;
    }
    do {
        const std::wstring path = journalFolder() + L"\\" + found.cFileName;
        if (std::optional<Journal> journal = readOrSetAside(path)) {
            journals.push_back({path, std::move(*journal)});
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return journals;
}

std::optional<StoredJournal> readJournalOf(const ProcessIdentity& owner) {
    if (journalFolder().empty()) {
        return std::nullopt;
    }
    const std::wstring path = journalPath(owner);
    std::optional<Journal> journal = readOrSetAside(path);
    if (!journal) {
        return std::nullopt;
    }
    return StoredJournal{path, std::move(*journal)};
}

void rewriteJournal(const StoredJournal& stored) {
    if (stored.journal.entries.empty()) {
        DeleteFileW(stored.path.c_str());
    } else {
        replaceFile(stored.path, formatJournal(stored.journal));
    }
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
