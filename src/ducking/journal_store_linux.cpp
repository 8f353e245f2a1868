// The journals on disk, the Linux way: $XDG_STATE_HOME/quillmere/ducking (by default
// ~/.local/state/quillmere/ducking, with the home folder of the user's passwd entry), each file
// replaced whole by a rename; a durable write is flushed to the disk, file and folder, first.

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "ducking/ducking_ledger.h"
#include "ducking/journal_store.h"

namespace {

void makeFolder(const std::string& path) {
    mkdir(path.c_str(), 0700);
}

// The folder, created on first use; empty when the user has none.
const std::string& journalFolder() {
    static const std::string folder = [] {
        std::string state;
        if (const char* configured = std::getenv("XDG_STATE_HOME"); configured != nullptr && configured[0] == '/') {
            state = configured;
        } else if (const passwd* user = getpwuid(getuid());
                   user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
            state = std::string(user->pw_dir) + "/.local/state";
            makeFolder(std::string(user->pw_dir) + "/.local");
        } else {
            return std::string();
        }
        makeFolder(state);
        makeFolder(state + "/quillmere");
        const std::string journals = state + "/quillmere/ducking";
        makeFolder(journals);
        struct stat info;
        return stat(journals.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? journals : std::string();
    }();
    return folder;
}

std::string journalPath(const ProcessIdentity& owner) {
    return journalFolder() + "/journal-" + std::to_string(owner.pid) + "-" + std::to_string(owner.creationTime) +
           ".txt";
}

// The whole file, or nothing; never more than one byte past the journal's size limit.
std::optional<std::string> readSmallFile(const std::string& path) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(file, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || text.size() > kMaxJournalBytes) {
            close(file);
            return got < 0 ? std::nullopt : std::optional<std::string>(text);
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

// Writes a temporary file beside the journal, then renames it over the journal.
bool replaceFile(const std::string& path, const std::string& text, JournalWrite write = JournalWrite::Ordinary) {
    const std::string temporary = path.substr(0, path.size() - 4) + ".tmp";
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0) {
        return false;
    }
    bool written = ::write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    written = written && (write == JournalWrite::Ordinary || fsync(file) == 0);
    written = close(file) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        return false;
    }
    if (write == JournalWrite::Durable) {
        // The rename itself reaches the disk with its folder.
        const int folder = open(journalFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            fsync(folder);
            close(folder);
        }
    }
    return true;
}

std::optional<Journal> readOrSetAside(const std::string& path) {
    const std::optional<std::string> text = readSmallFile(path);
    if (!text) {
        return std::nullopt;  // gone meanwhile, or not ours to read
    }
    std::optional<Journal> journal = parseJournal(*text);
    if (!journal) {
        rename(path.c_str(), (path + ".unreadable").c_str());
        LogLine() << "[win-helper] Ignoring unreadable ducking journal: " << path;
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
    const std::string path = journalPath(self);
    if (g_savedVolumes.empty()) {
        unlink(path.c_str());
        return;
    }
    if (!replaceFile(path, formatJournal(g_savedVolumes.journal(self)), write)) {
        static bool reported = false;
        if (!reported) {
            reported = true;
            LogLine() << "[win-helper] Failed to write ducking journal: " << path << " error=" << errno;
        }
    }
}

std::vector<StoredJournal> readJournals() {
    std::vector<StoredJournal> journals;
    DIR* folder = journalFolder().empty() ? nullptr : opendir(journalFolder().c_str());
    if (folder == nullptr) {
        return journals;
    }
    while (const dirent* item = readdir(folder)) {
        const std::string name = item->d_name;
        if (name.rfind("journal-", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) {
            const std::string path = journalFolder() + "/" + name;
            if (std::optional<Journal> journal = readOrSetAside(path)) {
                journals.push_back({utf8ToWide(path), std::move(*journal)});
            }
        }
    }
    closedir(folder);
    return journals;
}

std::optional<StoredJournal> readJournalOf(const ProcessIdentity& owner) {
    if (journalFolder().empty()) {
        return std::nullopt;
    }
    const std::string path = journalPath(owner);
    std::optional<Journal> journal = readOrSetAside(path);
    if (!journal) {
        return std::nullopt;
    }
    return StoredJournal{utf8ToWide(path), std::move(*journal)};
}

void rewriteJournal(const StoredJournal& stored) {
    const std::string path = wideToUtf8(stored.path);
    if (stored.journal.entries.empty()) {
        unlink(path.c_str());
    } else {
        replaceFile(path, formatJournal(stored.journal));
    }
}

// A lock on a file in the journals' folder, held for at most ten seconds' wait.
JournalRecoveryLock::JournalRecoveryLock() : lock_(-1), owned_(false) {
    if (journalFolder().empty()) {
        return;
    }
    lock_ = open((journalFolder() + "/recovery.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    for (int attempt = 0; lock_ >= 0 && attempt < 1000 && !owned_; ++attempt) {
        owned_ = flock(static_cast<int>(lock_), LOCK_EX | LOCK_NB) == 0;
        if (!owned_) {
            usleep(10000);
        }
    }
}

JournalRecoveryLock::~JournalRecoveryLock() {
    if (lock_ >= 0) {
        close(static_cast<int>(lock_));  // releases the lock with it
    }
}
