// The journals' files, the Linux way: $XDG_STATE_HOME/quillmere/ducking (by default
// ~/.local/state/quillmere/ducking, with the home folder of the user's passwd entry), each file
// replaced whole by a rename, flushed to the disk: the file, then the folder after the rename.

#include "ducking/journal_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "common/log.h"
#include "common/protocol_text.h"
#include "common/user_folders_linux.h"
#include "ducking/ducking_journal.h"
#include "ducking/journal_names.h"

namespace {

JournalFolderFailure folderFailure{{}, ENOENT};

// The journals' folder, created 0700 with the folders above it; empty when there is none to use:
// no home, not a folder (a link included), or another user's.
const std::string& journalFolder() {
    static const std::string folder = [] {
        const std::string state = userBaseFolder("XDG_STATE_HOME", ".local/state", FolderMaking::MakeMissing);
        if (state.empty()) {
            return std::string();
        }
        const std::string journals = state + "/quillmere/ducking";
        int madeError = 0;  // the first folder that could not be made says why
        for (const std::string& made : {state + "/quillmere", journals}) {
            errno = 0;
            makePrivateFolder(made);
            if (madeError == 0 && errno != 0 && errno != EEXIST) {
                madeError = errno;
            }
        }
        struct stat info;
        if (lstat(journals.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            folderFailure = {journals, static_cast<unsigned long>(madeError != 0 ? madeError : ENOTDIR)};
            return std::string();
        }
        if (info.st_uid != getuid()) {
            // Another user could plant or take back what this program lists.
            LogLine() << kJournalFolderNotOwnedPrefix << journals;
            return std::string();
        }
        if ((info.st_mode & 077) != 0) {
            chmod(journals.c_str(), 0700);  // made by something else: the user's own alone
        }
        return journals;
    }();
    return folder;
}

}  // namespace

std::vector<JournalFolderFile> journalFolderFiles() {
    std::vector<JournalFolderFile> files;
    DIR* folder = opendir(journalFolder().c_str());
    if (folder == nullptr) {
        return files;
    }
    while (const dirent* item = readdir(folder)) {
        const std::string name = item->d_name;
        files.push_back({name, journalFolder() + "/" + name});
    }
    closedir(folder);
    return files;
}

bool journalFolderReady() {
    return !journalFolder().empty();
}

JournalFolderFailure journalFolderFailure() {
    journalFolder();
    return folderFailure;
}

JournalPath journalPathOf(const ProcessIdentity& owner) {
    return journalFolder() + "/" + journalFileName(owner);
}

float journalLevelLimit() {
    return std::numeric_limits<float>::infinity();
}

JournalFileRead readJournalFile(const JournalPath& journal, std::string& text) {
    const std::string& path = journal.native();
    // Neither a link followed nor a FIFO waited on: only a regular file of the user's own is read.
    const int file = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) {
        return errno == ENOENT ? JournalFileRead::Gone : JournalFileRead::Refused;
    }
    struct stat info;
    if (fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != getuid()) {
        close(file);
        return JournalFileRead::Refused;
    }
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(file, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || text.size() > kMaxJournalBytes) {
            close(file);
            return got < 0 ? JournalFileRead::Gone : JournalFileRead::Read;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

bool replaceJournalFile(const JournalPath& journal, const std::string& text) {
    const std::string& path = journal.native();
    // Named by its writer: a recovery that went on without the lock never shares one.
    static const ProcessIdentity self = currentProcessIdentity();
    const std::string temporary =
        (journal.parent_path() / temporaryJournalName(journal.filename().string(), self)).native();
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (file < 0) {
        return false;
    }
    bool written = ::write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    written = written && fsync(file) == 0;
    written = close(file) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        return false;
    }
    // The rename itself reaches the disk with its folder.
    const int folder = open(journalFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return false;
    }
    const bool synced = fsync(folder) == 0;
    close(folder);
    return synced;
}

void removeJournalFile(const JournalPath& journal) {
    const std::string& path = journal.native();
    unlink(path.c_str());
}

void setJournalFileAside(const JournalPath& journal) {
    const std::string& path = journal.native();
    rename(path.c_str(), (path + kSetAsideSuffix).c_str());
}

unsigned long lastJournalFileError() {
    return static_cast<unsigned long>(errno);
}

unsigned long journalTooLargeError() {
    return EFBIG;
}

std::string journalPathText(const JournalPath& journal) {
    const std::string& path = journal.native();
    return path;
}

// A lock on a file in the journals' folder, held for at most ten seconds' wait.
JournalRecoveryLock::JournalRecoveryLock(Wait wait) : lock_(-1), owned_(false) {
    if (journalFolder().empty()) {
        return;
    }
    lock_ = open((journalFolder() + "/recovery.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                 0600);
    const int attempts = wait == Wait::No ? 1 : 1000;
    for (int attempt = 0; lock_ >= 0 && attempt < attempts && !owned_; ++attempt) {
        owned_ = flock(static_cast<int>(lock_), LOCK_EX | LOCK_NB) == 0;
        if (!owned_ && attempt + 1 < attempts) {
            usleep(10000);
        }
    }
}

JournalRecoveryLock::~JournalRecoveryLock() {
    if (lock_ >= 0) {
        close(static_cast<int>(lock_));  // releases the lock with it
    }
}
