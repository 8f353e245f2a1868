#include "ducking/ducking_engine.h"

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/protocol_text.h"
#include "common/run_state.h"
#include "ducking/ducking_journal.h"
#include "ducking/ducking_policy.h"
#include "ducking/journal_identity.h"
#include "ducking/journal_recovery.h"

// The journals of the other programs, read at most once per pass, when a session is about to be
// lowered or one this program keeps lowered is looked at: those that run now, and those that
// have ended, whose recovery has not put back what they list. A program that ends between the pass's look at the ended
// runs and this read is in here still, so that a session it lowered is never saved at the volume it set.
class DuckingEngine::OtherJournals {
public:
    explicit OtherJournals(const ProcessIdentity& self) : self_(self) {}

    const std::vector<Journal>& get() {
        if (!read_) {
            read_ = true;
            for (StoredJournal& stored : readJournals(self_)) {
                if (ownerState(stored.journal, self_) != OwnerState::Self) {
                    journals_.push_back(std::move(stored.journal));
                }
            }
        }
        return journals_;
    }
    // Whether one of them lists the session.
    bool lists(const std::wstring& identifier) {
        for (const Journal& journal : get()) {
            for (const JournalEntry& entry : journal.entries) {
                if (entry.identifier == identifier) {
                    return true;
                }
            }
        }
        return false;
    }

private:
    const ProcessIdentity& self_;
    bool read_ = false;
    std::vector<Journal> journals_;
};

void DuckingEngine::EndedRunJournals::refresh(const ProcessIdentity& self) {
    std::set<JournalPath> ended;
    for (const JournalPath& path : journalFiles(JournalFileKind::Journal)) {
        const std::optional<ProcessIdentity> owner = ownerNamedBy(path.filename().string());
        if (owner && ownerState(*owner, self) == OwnerState::Ended) {
            ended.insert(path);
        }
    }
    if (read_ && ended == paths_) {
        return;
    }
    read_ = true;
    paths_ = std::move(ended);
    journals_.clear();
    for (const JournalPath& path : paths_) {
        if (std::optional<StoredJournal> stored = readJournalAt(path)) {
            journals_.push_back(std::move(*stored));
        }
    }
}

std::optional<JournalPath> DuckingEngine::EndedRunJournals::listing(const AudioSession& session,
                                                                    const std::string& server) const {
    for (const StoredJournal& stored : journals_) {
        const std::vector<JournalEntry>& entries = stored.journal.entries;
        // Another server instance's journal is never applied to a stream.
        if (appliesToServer(stored.journal, server) && listedEntry(entries, session) != entries.end()) {
            return stored.path;
        }
    }
    return std::nullopt;
}

DuckingEngine::DuckingEngine(SessionVolumes& sessions, const ProcessIdentity& self, DuckingChoice choice)
    : sessions_(sessions), self_(self), choice_(std::move(choice)), journal_(self) {}

void DuckingEngine::duck(std::size_t session, const AudioSession& found, const ProcessTable& table, float ratio,
                         bool reapply, OtherJournals& others, std::set<std::wstring>& shared) {
    const std::wstring& key = found.identifier;
    if (key.empty()) {
        return;
    }
    // Only a logged line needs the label: steady passes over saved sessions build none.
    const auto label = [&] { return sessions_.label(session, table); };
    PlatformError error = 0;
    if (!sessions_.openVolume(session, error)) {
        if (ledger_.firstVolumeFailure(key)) {
            LogLine() << volumeAccessFailedLine(label(), error);
        }
        return;
    }
    const DuckingLedger::Plan plan = ledger_.plan(key, reapply);
    const bool listedElsewhere = others.lists(key) || ended_.listing(found, sessions_.server());
    if (listedElsewhere) {
        shared.insert(key);
    }
    if (plan.action == DuckingLedger::Action::Leave) {
        if (!listedElsewhere && sharedAtLastPass_.count(key) > 0) {
            lowerAgain(session, found, table);
        }
        return;
    }
    const bool lower = plan.action == DuckingLedger::Action::Lower;
    float before = plan.before;
    if (lower) {
        const std::optional<float> current = sessions_.readLevel(session, error);
        if (!current) {
            // Without the volume from before there is nothing to put back: not lowered.
            if (ledger_.firstReadFailure(key)) {
                LogLine() << volumeReadFailedLine(label(), error);
            }
            return;
        }
        float level = *current;
        if (!settleEndedRun(session, found, level)) {
            return;
        }
        before = ledger_.originalVolume(key, level, others.get(), sessions_.levelMatch(), found.key);
    }
    const float after = duckedVolume(ratio, before);
    // Journal first, on the disk: a kill, or a power loss, right after the volume is set must
    // find it listed. A new ratio lists both volumes (a kill on either side of the set finds the
    // session at one of them). Without the journal written the session is left as it is, and
    // tried again on the next pass.
    const auto previous =
        lower ? ledger_.recordLowered(key, before, after, found.key) : ledger_.recordReapplied(key, after);
    if (!journal_.persist(ledger_, sessions_.server())) {
        ledger_.revert(key, previous);
        if (!lower) {
            reapplyOwed_.insert(key);
        }
        return;
    }
    if (!sessions_.setLevel(session, after, error)) {
        ledger_.revert(key, previous);
        LogLine() << duckFailedLine(lower, label(), error);
        return;
    }
    sessions_.remember(found.identifier, found.key, before);
    LogLine() << duckedLine(lower, label(), before, after);
}

void DuckingEngine::lowerAgain(std::size_t session, const AudioSession& found, const ProcessTable& table) {
    const DuckingLedger::Entry& entry = ledger_.entries().at(found.identifier);
    const LevelMatch match = sessions_.levelMatch();
    // A restore that scales each channel from the lowered level lands within a few of a server's
    // volume steps of the level it sets: a thousandth more.
    const LevelMatch restored{match.absolute, match.relative + 0.001f};
    PlatformError error = 0;
    const std::optional<float> current = sessions_.readLevel(session, error);
    // At the volume from before, which the other program saved too, and not what the user chose
    // since: that program's restore, not the user's change. The journal lists it already.
    if (!current || !restored(*current, entry.before) || match(*current, entry.set)) {
        return;
    }
    if (!sessions_.setLevel(session, entry.set, error)) {
        LogLine() << duckFailedLine(true, sessions_.label(session, table), error);
        return;
    }
    sessions_.remember(found.identifier, found.key, entry.before);
    LogLine() << duckedLine(true, sessions_.label(session, table), entry.before, entry.set);
}

bool DuckingEngine::settleEndedRun(std::size_t session, const AudioSession& found, float& level) {
    const std::optional<JournalPath> path = ended_.listing(found, sessions_.server());
    if (!path) {
        return true;
    }
    const JournalRecoveryLock lock(JournalRecoveryLock::Wait::No);
    if (!lock.owned()) {
        return false;  // another process recovers now: a later pass
    }
    ended_.invalidate();
    std::optional<StoredJournal> stored = readJournalAt(*path);
    if (!stored) {
        return false;  // recovered meanwhile: its volume is read again on a later pass
    }
    auto& entries = stored->journal.entries;
    const auto entry = listedEntry(entries, found);
    if (entry == entries.end()) {
        return false;
    }
    switch (recoverSession(sessions_, session, found, level, *entry, true)) {
        case Recovered::Back: level = entry->before; break;
        case Recovered::Dropped: break;      // the user's own volume since
        case Recovered::Kept: return false;  // still at the volume that run set: not an original
    }
    entries.erase(entry);
    rewriteJournal(*stored);
    return true;
}

void DuckingEngine::recoverOnly(std::size_t session, const AudioSession& found) {
    PlatformError error = 0;
    if (!found.identifier.empty() && ended_.listing(found, sessions_.server()) &&
        sessions_.openVolume(session, error)) {
        if (std::optional<float> level = sessions_.readLevel(session, error)) {
            settleEndedRun(session, found, *level);
        }
    }
}

void DuckingEngine::pass(std::uint32_t targetPid, bool includeMode, float ratio, bool reapply,
                         const ProcessTable& table) {
    passOver(targetPid, includeMode, ratio, reapply,
             [&table](const std::vector<AudioSession>&) -> const ProcessTable& { return table; });
}

const ProcessTable& DuckingEngine::keptTable(const std::vector<AudioSession>& sessions) {
    std::vector<std::uint32_t> pids;
    pids.reserve(sessions.size());
    for (const AudioSession& session : sessions) {
        pids.push_back(session.pid);
    }
    return processes_.forProcesses(pids, watcher_ != nullptr && watcher_->wantsEveryProcess());
}

void DuckingEngine::passOver(std::uint32_t targetPid, bool includeMode, float ratio, bool reapply,
                             const TableFor& tableFor) {
    {
        // Read before the walk while sessions are lowered: a session that another program lets
        // go of and puts back meanwhile is either still listed or found at the volume put back.
        OtherJournals others(self_);
        ended_.refresh(self_);
        if (!sharedAtLastPass_.empty()) {
            others.get();
        }
        const SessionVolumes::Walk walk = sessions_.walk();
        const std::vector<AudioSession>& found = walk.sessions();
        const ProcessTable& table = tableFor(found);
        // A new ratio that sessions did not get for want of their journal is tried again now.
        const std::set<std::wstring> owed = std::exchange(reapplyOwed_, {});
        std::set<std::wstring> shared;
        std::set<std::wstring> visited;
        // A session gone for good leaves nothing to put back but its application's memory, set
        // back now (once per application); its entry goes first, so that the ledger and the
        // journal hold only what lasts, however many sessions come and go.
        if (walk.reached() && !sessions_.unseenMayReturn()) {
            std::set<std::wstring> seen;
            for (const AudioSession& session : found) {
                seen.insert(session.identifier);
            }
            std::set<std::string> remembered;
            for (const auto& [identifier, entry] : ledger_.endAllBut(seen)) {
                if (entry.key.empty() || remembered.insert(entry.key).second) {
                    sessions_.remember(identifier, entry.key, entry.before);
                }
            }
        }
        for (std::size_t session = 0; session < found.size(); ++session) {
            const AudioSession& candidate = found[session];
            if (isLoweredByPass(candidate.pid, candidate.active, targetPid, includeMode, table, self_.pid, choice_)) {
                visited.insert(candidate.identifier);
                duck(session, candidate, table, ratio, reapply || owed.count(candidate.identifier) > 0, others, shared);
            } else {
                recoverOnly(session, candidate);
            }
        }
        if (watcher_ != nullptr) {
            watcher_->sawPass(found, table);
        }
        // A shared session this pass did not look at (paused, or the device away) stays watched
        // while this program keeps it lowered.
        for (const std::wstring& identifier : sharedAtLastPass_) {
            if (visited.count(identifier) == 0 && ledger_.entries().count(identifier) > 0) {
                shared.insert(identifier);
            }
        }
        sharedAtLastPass_ = std::move(shared);
    }
    ledger_.settle();
    journal_.persist(ledger_, sessions_.server());
}

void DuckingEngine::restore() {
    LogLine() << kRestoringLine;
    DuckingLedger::RestoreOutcome outcome;
    std::set<std::wstring> seen;
    bool walked = false;
    {
        const SessionVolumes::Walk walk = sessions_.walk();
        walked = walk.reached();
        const std::vector<AudioSession>& found = walk.sessions();
        const auto& entries = ledger_.entries();
        for (std::size_t session = 0; session < found.size(); ++session) {
            const std::wstring& identifier = found[session].identifier;
            seen.insert(identifier);
            const auto entry = entries.find(identifier);
            PlatformError error = 0;
            if (identifier.empty() || entry == entries.end() || !sessions_.openVolume(session, error)) {
                continue;
            }
            if (entry->second.pending) {
                switch (recoveryAction(sessions_.readLevel(session, error), entry->second.set,
                                       entry->second.previousSet, sessions_.levelMatch())) {
                    case RecoveryAction::Restore: break;
                    case RecoveryAction::Drop: outcome.dropped.insert(identifier); continue;
                    case RecoveryAction::Keep: continue;
                }
            }
            if (!sessions_.setLevel(session, entry->second.before, error)) {
                LogLine() << kRestoreFailedPrefix << error;
                outcome.failed.insert(identifier);
                continue;
            }
            LogLine() << kRestoredPrefix << entry->second.before;
            outcome.restored.insert(identifier);
        }
    }
    // An application's memory is written once, however many of its sessions came and went.
    std::set<std::string> remembered;
    for (const auto& [identifier, entry] : ledger_.entries()) {
        if ((outcome.restored.count(identifier) == 0 || outcome.failed.count(identifier) > 0) &&
            outcome.dropped.count(identifier) == 0) {
            if (entry.key.empty() || remembered.insert(entry.key).second) {
                sessions_.remember(identifier, entry.key, entry.before);
            }
            // A session gone for good can never be put back: its application's memory, just set
            // back, is all that is left of it.
            if (walked && !sessions_.unseenMayReturn() && seen.count(identifier) == 0) {
                outcome.dropped.insert(identifier);
            }
        }
    }
    ledger_.finishRestore(outcome);
    journal_.persist(ledger_, sessions_.server());
}

void DuckingEngine::watchOnly() {
    if (watcher_ != nullptr) {
        const SessionVolumes::Walk walk = sessions_.walk();
        watcher_->sawPass(walk.sessions(), keptTable(walk.sessions()));
    }
}

void DuckingEngine::run(std::uint32_t targetPid, RunState& state, PassWatcher* watcher) {
    watcher_ = watcher;
    recoverEndedRunsJournals(sessions_, self_);
    float lastRatio = -1.0f;
    // Waits up to one pass interval; a stop, or `done`, ends the wait at once.
    const auto waitUntil = [&state](auto done) {
        state.signal.waitFor(kPassInterval, [&] { return !state.running.load() || done(); });
    };
    while (state.running.load()) {
        const float ratio = state.duckRatio.load();
        const PassPlan plan = planPass(ratio, lastRatio, ledger_.nothingLowered());
        lastRatio = ratio;
        switch (plan.kind) {
            // What a restore cannot put back stays pending, not lowered.
            case PassKind::RestoreAndClear: restore(); break;
            case PassKind::Idle:
                watchOnly();
                waitUntil([&state] { return state.duckRatio.load() < kDuckOffThreshold; });
                break;
            case PassKind::Enumerate:
                passOver(
                    targetPid, state.includeMode, ratio, plan.reapply,
                    [this](const std::vector<AudioSession>& found) -> const ProcessTable& { return keptTable(found); });
                // A not-a-number ratio differs from itself: the wait ends at once, as it did.
                waitUntil([&state, ratio] { return state.duckRatio.load() != ratio; });
                break;
        }
    }
}
