#pragma once

// In-memory stand-ins for the platform seams beneath the neutral code: a capture run's platform,
// the sessions of the default device, the journal folder, and which processes run. The journal
// folder and the process set are what the link seams (journal_files.h, process_identity.h) see in
// the unit tests; each test starts them afresh with resetFakeSeams(). The guardian and the host
// watch (guardian.h, host_watch.h) only say that they were started, as FakeCapturePlatform does.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/capture_run.h"
#include "common/process_identity.h"
#include "ducking/journal_files.h"
#include "ducking/journal_store.h"
#include "ducking/session_volumes.h"

// The journal folder's files by name ("journal2-7-8.journal", version 1's "journal-7-8.txt"), and
// the processes that run.
struct FakeJournalWorld {
    std::map<std::string, std::string> files;
    // Set: every write fails with this system number (a full disk, a folder without write
    // permission, a rename refused while another process holds the file).
    std::optional<unsigned long> writesFail;
    // Set: the folder cannot be used (made, or found), for this reason.
    std::optional<JournalFolderFailure> folderFails;
    float levelLimit = 1.0f;
    bool lockHeld = false;
    int reads = 0;  // journal files read  // another process holds the recovery lock
    // Files by name that are no journal file to read (a FIFO, a link, another user's file).
    std::set<std::string> refused;  // the highest level a journal may list: Windows's
    std::set<std::pair<std::uint32_t, std::uint64_t>> running;
    ProcessIdentity self{100, 1};
    std::string boot;  // the system's boot; empty, as on Windows, by default
    // What a snapshot of the processes gives, and how many were taken.
    ProcessTable processes;
    int snapshots = 0;
};
FakeJournalWorld& fakeJournalWorld();
// The system number the fake folder gives for a file too large.
inline constexpr unsigned long kFakeTooLargeError = 27;
void resetFakeSeams();

// A session of the fake device: what it answers, and every level set on it.
struct FakeSession {
    std::wstring identifier;
    std::uint32_t pid = 0;
    float level = 1.0f;
    bool active = true;
    bool present = true;  // false: away from the device, no walk finds it
    std::string key;      // the application's key in the platform's volume memory
    std::optional<bool> audible;
    std::optional<PlatformError> volumeFails;
    std::optional<PlatformError> readFails;
    std::optional<PlatformError> setFails;
    std::vector<float> sets;
    // The journal's text at the moment of each set.
    std::vector<std::string> journalAtSet;
};

class FakeSessionVolumes final : public SessionVolumes {
public:
    explicit FakeSessionVolumes(std::vector<FakeSession> sessions, LevelMatch match = {})
        : sessions_(std::move(sessions)), match_(match) {}

    FakeSession& operator[](const std::wstring& identifier);
    // A session that comes to the device, and one that leaves it for good.
    void add(FakeSession session) { sessions_.push_back(std::move(session)); }
    void erase(const std::wstring& identifier);
    bool walkFails = false;
    // How long a walk takes from its start to its end; set when walks of several threads could overlap.
    std::chrono::milliseconds walkTime{0};
    // Set when a walk started while another one lasted.
    std::atomic<bool> walksOverlapped{false};
    // Like a sound server's: the instance, identifiers that never come back, a memory of
    // application volumes told each (identifier, key, volume).
    std::string serverName;
    bool unseenReturn = true;
    std::vector<std::tuple<std::wstring, std::string, float>> remembered;
    // Called as a level is read: what happens in the world meanwhile.
    std::function<void()> onRead;

    std::string label(std::size_t session, const ProcessTable& table) const override;
    bool openVolume(std::size_t session, PlatformError& error) override;
    std::optional<float> readLevel(std::size_t session, PlatformError& error) override;
    bool setLevel(std::size_t session, float level, PlatformError& error) override;
    LevelMatch levelMatch() const override { return match_; }
    std::string server() const override { return serverName; }
    bool unseenMayReturn() const override { return unseenReturn; }
    void remember(const std::wstring& identifier, const std::string& key, float before) override {
        remembered.emplace_back(identifier, key, before);
    }

private:
    bool findSessions(std::vector<AudioSession>& sessions) override;
    void endWalk() override { walking_.exchange(false); }

    std::atomic<bool> walking_{false};
    std::vector<FakeSession> sessions_;
    std::vector<FakeSession*> walked_;
    LevelMatch match_;
};

// A capture run's platform that writes each call it gets as a line "fake: ..." on standard
// error, beside the run's own lines, so that the log holds the run's whole order. Its capture
// loop is a step the test gives; its sessions are a fake device without sessions.
class FakeCapturePlatform final : public CapturePlatform {
public:
    bool opens = true;
    // The capture loop: by default it ends at once, as when the output closes.
    std::function<void(RunState&)> loop = [](RunState& state) { state.endLoop(); };
    FakeSessionVolumes volumes{std::vector<FakeSession>{}};

    bool open(std::uint32_t pid, bool includeMode) override;
    FormatSummary reportedFormat() const override { return {48000, 2, 32, true}; }
    FormatSummary deliveredFormat() const override { return reportedFormat(); }
    void capture(RunState& state, PcmDownconverter& converter) override;
    void close() override;
    // Says so, and ends at once: the host's input has ended.
    void readCommands(RunState& state) override;
    void runDuckingThread(const std::function<void()>& body) override;
    SessionVolumes& sessions() override { return volumes; }
    SilenceBasis silenceBasis() const override { return SilenceBasis::Levels; }

    // Returns once `count` worker threads (the reader, the ducking thread) have written their
    // first line.
    void awaitWorkers(int count);

private:
    void workerBegan(const char* line);

    std::mutex mutex_;
    std::condition_variable began_;
    int workers_ = 0;
};
