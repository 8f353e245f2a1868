#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

// What the ducking engine remembers across passes, and what it decides from that: the volume
// each session had before it was first lowered, and the sessions whose missing volume
// interface has been reported. Keyed by session identifier, so sessions that share one (the
// processes of one application) share one entry.
class DuckingLedger {
public:
    enum class Action {
        Lower,    // not lowered yet: read its volume, lower it, save what was read
        Reapply,  // lowered before, and the ratio changed: set ratio × saved volume
        Leave,    // lowered before, no new ratio: not touched, even if the user raised it
    };

    // The action for a session found in a pass, and the volume it starts from (the saved
    // volume for Reapply; nothing otherwise).
    struct Plan {
        Action action;
        std::optional<float> savedVolume;
    };
    Plan plan(const std::wstring& identifier, bool reapply) const;

    // A session was lowered: `before` is its volume from before. Only the first one is kept.
    void saveLowered(const std::wstring& identifier, float before);

    // True the first time an identifier's missing volume interface is reported, false after.
    bool firstVolumeFailure(const std::wstring& identifier);

    const std::map<std::wstring, float>& savedVolumes() const { return saved_; }
    bool empty() const { return saved_.empty(); }
    // Forgets the saved volumes after they were put back; reported failures stay reported.
    void clearSaved() { saved_.clear(); }

private:
    std::map<std::wstring, float> saved_;
    std::set<std::wstring> reportedVolumeFailures_;
};

// The ducking engine's ledger. Only the ducking thread writes it; the stop paths read it after
// they have joined that thread.
extern DuckingLedger g_savedVolumes;
