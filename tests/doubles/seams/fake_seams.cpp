#include "doubles/seams/fake_seams.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "app/guardian.h"
#include "app/host_watch.h"
#include "common/log.h"
#include "common/log_output.h"
#include "ducking/journal_files.h"
#include "ducking/journal_names.h"

FakeJournalWorld& fakeJournalWorld() {
    static FakeJournalWorld world;
    return world;
}

void resetFakeSeams() {
    fakeJournalWorld() = FakeJournalWorld{};
    fakeJournalWorld().running.insert({fakeJournalWorld().self.pid, fakeJournalWorld().self.creationTime});
}

namespace {

std::string nameOf(const JournalPath& path) {
    return path.string();
}

}  // namespace

// The log's output: the C runtime's standard error, which the tests capture.
void writeLogOutput(const char* text, std::size_t size) {
    std::fwrite(text, 1, size, stderr);
    std::fflush(stderr);
}

// The journal files' seam, over the fake folder.

bool journalFolderReady() {
    return !fakeJournalWorld().folderFails;
}
JournalFolderFailure journalFolderFailure() {
    return fakeJournalWorld().folderFails.value_or(JournalFolderFailure{});
}
JournalPath journalPathOf(const ProcessIdentity& owner) {
    return JournalPath(journalFileName(owner));
}
float journalLevelLimit() {
    return fakeJournalWorld().levelLimit;
}
std::vector<JournalFolderFile> journalFolderFiles() {
    std::vector<JournalFolderFile> files;
    for (const auto& [name, text] : fakeJournalWorld().files) {
        files.push_back({name, JournalPath(name)});
    }
    return files;
}
JournalFileRead readJournalFile(const JournalPath& path, std::string& text) {
    if (fakeJournalWorld().refused.count(nameOf(path)) > 0) {
        return JournalFileRead::Refused;
    }
    const auto file = fakeJournalWorld().files.find(nameOf(path));
    if (file == fakeJournalWorld().files.end()) {
        return JournalFileRead::Gone;
    }
    text = file->second;
    ++fakeJournalWorld().reads;
    return JournalFileRead::Read;
}
bool replaceJournalFile(const JournalPath& path, const std::string& text) {
    if (fakeJournalWorld().writesFail) {
        return false;
    }
    fakeJournalWorld().files[nameOf(path)] = text;
    return true;
}
void removeJournalFile(const JournalPath& path) {
    fakeJournalWorld().files.erase(nameOf(path));
}
void setJournalFileAside(const JournalPath& path) {
    auto& files = fakeJournalWorld().files;
    files[nameOf(path) + kSetAsideSuffix] = files[nameOf(path)];
    files.erase(nameOf(path));
}
unsigned long lastJournalFileError() {
    return fakeJournalWorld().writesFail.value_or(0);
}
unsigned long journalTooLargeError() {
    return kFakeTooLargeError;
}
std::string journalPathText(const JournalPath& path) {
    return nameOf(path);
}
JournalRecoveryLock::JournalRecoveryLock(Wait) : lock_(0), owned_(!fakeJournalWorld().lockHeld) {}
JournalRecoveryLock::~JournalRecoveryLock() = default;

// The process identity seam: the processes the fake world runs.

ProcessIdentity currentProcessIdentity() {
    return fakeJournalWorld().self;
}
std::string currentBootIdentity() {
    return fakeJournalWorld().boot;
}
bool isProcessAlive(const ProcessIdentity& identity) {
    return fakeJournalWorld().running.count({identity.pid, identity.creationTime}) > 0;
}
std::optional<ProcessIdentity> processIdentityOf(std::uint32_t pid) {
    const auto& running = fakeJournalWorld().running;
    const auto first = running.lower_bound({pid, 0});
    if (pid == 0 || first == running.end() || first->first != pid) {
        return std::nullopt;
    }
    return ProcessIdentity{pid, first->second};
}
ProcessTable snapshotProcesses() {
    ++fakeJournalWorld().snapshots;
    return fakeJournalWorld().processes;
}

// The sessions.

FakeSession& FakeSessionVolumes::operator[](const std::wstring& identifier) {
    for (FakeSession& session : sessions_) {
        if (session.identifier == identifier) {
            return session;
        }
    }
    throw std::out_of_range("no such fake session");
}

void FakeSessionVolumes::erase(const std::wstring& identifier) {
    sessions_.erase(std::find_if(sessions_.begin(), sessions_.end(),
                                 [&](const FakeSession& session) { return session.identifier == identifier; }));
}

bool FakeSessionVolumes::findSessions(std::vector<AudioSession>& sessions) {
    if (walking_.exchange(true)) {
        walksOverlapped.exchange(true);
    }
    std::this_thread::sleep_for(walkTime);
    walked_.clear();
    if (walkFails) {
        return false;
    }
    for (FakeSession& session : sessions_) {
        if (session.present) {
            sessions.push_back({session.identifier, session.pid, session.active, session.key, session.audible});
            walked_.push_back(&session);
        }
    }
    return true;
}

std::string FakeSessionVolumes::label(std::size_t session, const ProcessTable& table) const {
    return processLabel(walked_[session]->pid, table);
}

bool FakeSessionVolumes::openVolume(std::size_t session, PlatformError& error) {
    error = walked_[session]->volumeFails.value_or(0);
    return !walked_[session]->volumeFails;
}

std::optional<float> FakeSessionVolumes::readLevel(std::size_t session, PlatformError& error) {
    if (onRead) {
        onRead();
    }
    const FakeSession& found = *walked_[session];
    error = found.readFails.value_or(0);
    return found.readFails ? std::nullopt : std::optional<float>(found.level);
}

bool FakeSessionVolumes::setLevel(std::size_t session, float level, PlatformError& error) {
    FakeSession& found = *walked_[session];
    const auto own = fakeJournalWorld().files.find(nameOf(journalPathOf(fakeJournalWorld().self)));
    found.journalAtSet.push_back(own == fakeJournalWorld().files.end() ? "" : own->second);
    error = found.setFails.value_or(0);
    if (found.setFails) {
        return false;
    }
    found.level = level;
    found.sets.push_back(level);
    return true;
}

// A capture run's platform, and the run's services beside it.

void startGuardian() {
    LogLine() << "fake: guardian";
}
void startHostWatch(RunState&) {
    LogLine() << "fake: host watch";
}

bool FakeCapturePlatform::open(std::uint32_t pid, bool includeMode) {
    LogLine() << "fake: open " << pid << (includeMode ? " include" : " exclude");
    return opens;
}

void FakeCapturePlatform::capture(RunState& state, PcmDownconverter&) {
    LogLine() << "fake: capture";
    loop(state);
}

void FakeCapturePlatform::close() {
    LogLine() << "fake: close";
}

void FakeCapturePlatform::readCommands(RunState&) {
    workerBegan("fake: reader");
}

void FakeCapturePlatform::runDuckingThread(const std::function<void()>& body) {
    workerBegan("fake: ducking thread");
    body();
    LogLine() << "fake: ducking thread ends";
}

void FakeCapturePlatform::workerBegan(const char* line) {
    LogLine() << line;
    const std::lock_guard<std::mutex> lock(mutex_);
    ++workers_;
    began_.notify_all();
}

void FakeCapturePlatform::awaitWorkers(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    began_.wait(lock, [&] { return workers_ >= count; });
}
