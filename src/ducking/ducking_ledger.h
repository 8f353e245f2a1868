#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ducking/ducking_journal.h"

// What the ducking engine remembers across passes, and what it decides from that. Keyed by
// session identifier, so sessions that share one (the processes of one application) share one
// entry. Each entry holds the volume from before the ducking and the volume the program set.
// An entry is "lowered" while the program keeps the session ducked, or "pending" when a restore
// did not find the session (or could not set its volume): a pending entry is no saved volume
// for the engine's decisions, but every later restore, the guardian and the next start still
// put it back while the session is at the volume the program set.
class DuckingLedger {
public:
    enum class Action {
        Lower,    // not lowered now: read its volume, lower it, keep its volume from before
        Reapply,  // lowered, and the ratio changed: set ratio × the volume from before
        Leave,    // lowered, no new ratio: not touched, even if the user raised it
    };
    struct Plan {
        Action action;
        float before;  // for Reapply: the volume from before
    };
    Plan plan(const std::wstring& identifier, bool reapply) const;

    // For a session about to be lowered that is now at `current`: its volume from before. A
    // pending entry still at the volume we set keeps its original; a session another live
    // program lowered (its journal lists it at `current`) keeps that program's original; a new
    // session of an application (`key`, not empty) whose other session this run lowered, found
    // at the volume set on that one (or, when none is lowered now, on the last one that ended),
    // has that one's original: the platform started it at its memory of the application's
    // volume, which held the lowered level, and taking that for its own would lower the
    // application further with each new session; anything else starts from `current`.
    float originalVolume(const std::wstring& identifier, float current, const std::vector<Journal>& otherLiveJournals,
                         LevelMatch match = {}, const std::string& key = {}) const;

    // Entered before the volume is set, so that the journal never misses a lowered session;
    // undone with `revert` and what they return when setting the volume fails.
    struct Entry;
    // `key`: the session's key in the platform's memory of application volumes (AudioSession).
    std::optional<Entry> recordLowered(const std::wstring& identifier, float before, float set,
                                       const std::string& key = {});
    std::optional<Entry> recordReapplied(const std::wstring& identifier, float set);
    void revert(const std::wstring& identifier, const std::optional<Entry>& previous);

    // True the first time an identifier's failure of each kind is reported, false after.
    bool firstVolumeFailure(const std::wstring& identifier);
    bool firstReadFailure(const std::wstring& identifier);

    // A restore: every entry's session that a walk found is set back (lowered ones) or checked
    // against the volume we set (pending ones), and the outcome handed to finishRestore.
    struct RestoreOutcome {
        std::set<std::wstring> restored;  // set back to the volume from before
        std::set<std::wstring> failed;    // setting it back failed
        std::set<std::wstring> dropped;   // pending, and changed by the user meanwhile
    };
    // Restored and dropped entries go (unless another session of theirs failed); every other
    // entry (not found, failed, no volume interface) stays as pending.
    void finishRestore(const RestoreOutcome& outcome);

    struct Entry {
        float before;
        float set;
        bool pending;
        // While a new ratio is applied: the volume set before it (the session is at one of them).
        std::optional<float> previousSet;
        std::string key;
    };
    // After a pass has set its new volumes: each session is at its new volume now.
    void settle();
    // Where a session a walk did not find is gone for good: the entries of every session but
    // those `found` leave (returned, for their application's memory to be set back), and so does
    // what was kept of the sessions' failures. Of each application only its last ended entry is
    // kept, for originalVolume, and of the kEndedApplications whose sessions ended last only:
    // the ledger holds what the sessions found now need, however many came and went.
    std::vector<std::pair<std::wstring, Entry>> endAllBut(const std::set<std::wstring>& found);
    const std::map<std::wstring, Entry>& entries() const { return entries_; }
    // No lowered entry: for the engine, nothing is saved.
    bool nothingLowered() const;
    // No entry at all: the journal can go.
    bool empty() const { return entries_.empty(); }
    // Counts every change, so that the journal is written only when there is something new.
    std::uint64_t changeCount() const { return changes_; }

    // `server`: the sound server instance the entries belong to (SessionVolumes::server).
    // `boot`: the owner's (currentBootIdentity).
    Journal journal(const ProcessIdentity& owner, const std::string& server = {}, const std::string& boot = {}) const;

private:
    std::map<std::wstring, Entry> entries_;
    // By application key: the last of its entries that left with its session, and when (by
    // endings counted).
    static constexpr std::size_t kEndedApplications = 256;
    std::map<std::string, std::pair<Entry, std::uint64_t>> ended_;
    std::uint64_t endings_ = 0;
    std::set<std::wstring> reportedVolumeFailures_;
    std::set<std::wstring> reportedReadFailures_;
    std::uint64_t changes_ = 0;
};
