#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "common/process_identity.h"
#include "common/process_table.h"
#include "common/run_state.h"
#include "ducking/ducking_engine.h"
#include "ducking/session_volumes.h"

// The status lines (--status): what the host cannot tell from the samples alone.

// The target's tree over the run, by identity (ids are reused): the target, and every process
// seen as a child of a member while that member ran, for as long as it runs, whoever its parent
// is later (a child that outlives its parent still counts).
class TargetTreeWatch {
public:
    // Takes the target's identity now.
    explicit TargetTreeWatch(std::uint32_t targetPid);

    // Whether a process had the target's id at the start.
    bool found() const { return found_; }
    // Whether the tree is still followed: found, and not yet ended.
    bool following() const { return !ended_; }
    // With the process table of now: true once, at the first check that finds every member ended.
    bool endedNow(const ProcessTable& table);

private:
    bool alive(const ProcessIdentity& member) const;

    bool found_ = false;
    bool ended_ = false;
    std::map<std::uint32_t, ProcessIdentity> members_;
};

// A silent stretch: what one check tells of the capture and what it records.
enum class SilenceEvidence {
    Silent,   // what the capture records plays, and the capture hears nothing of it
    Heard,    // the capture hears it
    Neither,  // nothing recorded plays
};

// How a platform tells a silent capture. Samples: by the samples it captured, while a session it
// records plays at a level its peak meter shows (Windows). Levels: by the volumes of the streams
// it records that play, all muted or at 0 (Linux).
enum class SilenceBasis { Samples, Levels };

// One check's evidence from the sessions the capture records (`recorded`: active ones only
// count), their `audible` answer, and whether the capture heard a sample that is not zero since
// the last check.
SilenceEvidence silenceEvidence(const std::vector<const AudioSession*>& recorded, bool heard, SilenceBasis basis);

// The silent stretches: the line to write at a check, if any. A stretch is reported once it has
// lasted kSilentStretch over at least two checks; its end once, when the capture hears again.
class SilenceWatch {
public:
    static constexpr std::chrono::seconds kSilentStretch{2};
    const char* check(SilenceEvidence evidence, std::chrono::steady_clock::time_point now);

private:
    std::optional<std::chrono::steady_clock::time_point> since_;
    int checks_ = 0;
    bool reported_ = false;
};

// The milliseconds of lost audio a line reports now, if any: at most one line a second, each the
// sum since the last, rounded to the nearest millisecond; what rounds to nothing waits.
class LossReport {
public:
    static constexpr std::chrono::seconds kLineInterval{1};
    std::optional<std::uint64_t> take(std::atomic<std::uint64_t>& lostMicroseconds,
                                      std::chrono::steady_clock::time_point now);

private:
    std::optional<std::chrono::steady_clock::time_point> last_;
    std::uint64_t pending_ = 0;
};

// The status of one capture, checked at each of the ducking thread's passes.
class CaptureStatus final : public PassWatcher {
public:
    CaptureStatus(std::uint32_t targetPid, bool includeMode, std::uint32_t ownPid, SilenceBasis basis,
                  CaptureHealth& health);

    // After the start lines: says so when the target was not found.
    void announceStart() const;
    // Every process only while the target's tree is followed.
    bool wantsEveryProcess() const override { return tree_.following(); }
    void sawPass(const std::vector<AudioSession>& sessions, const ProcessTable& table) override;
    // The same at a given time, for the tests.
    void check(const std::vector<AudioSession>& sessions, const ProcessTable& table,
               std::chrono::steady_clock::time_point now);

private:
    const std::uint32_t targetPid_;
    const bool includeMode_;
    const std::uint32_t ownPid_;
    const SilenceBasis basis_;
    CaptureHealth& health_;
    TargetTreeWatch tree_;
    SilenceWatch silence_;
    LossReport loss_;
};
