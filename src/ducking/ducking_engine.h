#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/process_identity.h"
#include "common/process_table.h"
#include "common/run_state.h"
#include "ducking/ducking_ledger.h"
#include "ducking/ducking_policy.h"
#include "ducking/journal_store.h"
#include "ducking/session_volumes.h"

// What a run watches at each of the ducking thread's passes, given what the pass saw: the default
// device's sessions (none when it could not be reached) and the process table.
class PassWatcher {
public:
    virtual ~PassWatcher() = default;
    // Whether the next pass's table must be a new snapshot of every process (a watcher that
    // follows processes without sessions), not the table kept for the sessions' processes.
    virtual bool wantsEveryProcess() const = 0;
    virtual void sawPass(const std::vector<AudioSession>& sessions, const ProcessTable& table) = 0;
};

// The ducking engine, the same on every platform over its SessionVolumes:
// - a pass lowers each active session that the capture mode selects (include: the target's and
//   the program's trees; exclude: every other process), or the host's choice of either in any
//   mode, never process id 0, an excluded name, or a process the host keeps and its descendants,
//   to the ratio times its volume from before, saved at its first lowering; a new ratio is set
//   from the saved volume, so changes never compound; a session already lowered is otherwise
//   left alone, even when the user raised it;
// - every lowering and every new ratio is written to the journal, on the disk, before the volume
//   is set, and taken back when the set fails; a session whose entry could not be written is
//   left as it is until a later pass writes it;
// - a session that another running program lowered keeps that program's volume from before, so
//   whichever program ends last puts back the user's volume; so does one that a program which
//   ended during the pass lowered; when that program ends, or lets go of it, and puts that volume
//   back while this one still keeps the session lowered, the next pass lowers it again (a session
//   the user changed since is left alone);
// - a session that an ended run's journal lists (by identifier, or by the application's key)
//   gets that journal's recovery rule first, under the recovery lock, which a pass only tries:
//   while another process holds it, such a session waits for a later pass, and is never saved
//   as an original at a volume that run set;
// - the orderly restore puts back every lowered session's volume from before, and every pending
//   one (a session an earlier restore did not find) only while it is still at the volume set;
//   what it could not put back stays pending, in the ledger and the journal.
// Its ledger is written by the ducking thread while that runs; the stop paths use it after they
// have joined that thread.
class DuckingEngine {
public:
    // `self`: this program, whose journal the engine keeps; `choice`: what a pass lowers.
    DuckingEngine(SessionVolumes& sessions, const ProcessIdentity& self, DuckingChoice choice = {});
    DuckingEngine(const DuckingEngine&) = delete;
    DuckingEngine& operator=(const DuckingEngine&) = delete;

    // The ducking thread: first puts back what ended runs left lowered, then a pass about once a
    // second, and at once after a new ratio; a ratio of "no ducking" restores everything.
    // Returns once the run's workers stop. The watcher, when given, sees every pass, including
    // those that lower nothing.
    void run(std::uint32_t targetPid, RunState& state, PassWatcher* watcher = nullptr);
    // One pass with this ratio; `reapply`: the ratio is new, saved sessions are set to it.
    void pass(std::uint32_t targetPid, bool includeMode, float ratio, bool reapply, const ProcessTable& table);
    // Logs kRestoringLine and puts the saved volumes back.
    void restore();

    const DuckingLedger& ledger() const { return ledger_; }

private:
    class OtherJournals;
    // The journals of ended runs that still list sessions, kept between passes.
    class EndedRunJournals {
    public:
        // Reads them again when the set of ended runs' journal files changed (a file came or went,
        // a listed owner ended) or after one was rewritten here; owners are checked each call.
        void refresh(const ProcessIdentity& self);
        void invalidate() { read_ = false; }
        // The path of the journal that lists this session, if one does.
        std::optional<JournalPath> listing(const AudioSession& session, const std::string& server) const;

    private:
        bool read_ = false;
        std::set<JournalPath> paths_;
        std::vector<StoredJournal> journals_;
    };
    // `shared`: gets the session when another program's journal, live or ended, lists it.
    void duck(std::size_t session, const AudioSession& found, const ProcessTable& table, float ratio, bool reapply,
              OtherJournals& others, std::set<std::wstring>& shared);
    // A lowered session that another program's journal listed at the last pass and lists no more.
    void lowerAgain(std::size_t session, const AudioSession& found, const ProcessTable& table);
    // Before a session is lowered at `level`: the recovery rule of an ended run that lists it,
    // with `level` what it is after; false when the session must wait for a later pass.
    bool settleEndedRun(std::size_t session, const AudioSession& found, float& level);
    // A session this run does not lower: only an ended run's rule, if one lists it.
    void recoverOnly(std::size_t session, const AudioSession& found);

    // A pass that lowers nothing, for the watcher alone.
    void watchOnly();
    // A pass with the process table for the sessions it found.
    using TableFor = std::function<const ProcessTable&(const std::vector<AudioSession>&)>;
    void passOver(std::uint32_t targetPid, bool includeMode, float ratio, bool reapply, const TableFor& tableFor);
    // The run's table, kept between passes; with a watcher, which follows every process, a new
    // snapshot each pass.
    const ProcessTable& keptTable(const std::vector<AudioSession>& sessions);

    SessionVolumes& sessions_;
    const ProcessIdentity self_;
    const DuckingChoice choice_;
    PassWatcher* watcher_ = nullptr;
    KeptProcessTable processes_;
    DuckingLedger ledger_;
    OwnJournal journal_;
    EndedRunJournals ended_;
    // Lowered sessions that another program's journal listed at the last pass.
    std::set<std::wstring> sharedAtLastPass_;
    // Identifiers whose new ratio could not be journaled: set to it on the next pass.
    std::set<std::wstring> reapplyOwed_;
};
