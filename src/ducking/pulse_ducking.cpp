#include "ducking/pulse_ducking.h"

#include <unistd.h>

#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/process_identity.h"
#include "common/process_table.h"
#include "common/run_state.h"
#include "ducking/ducking_journal.h"
#include "ducking/ducking_ledger.h"
#include "ducking/ducking_policy.h"
#include "ducking/journal_store.h"

namespace {

// Each lowered stream's channels from before and as the program set them: the ledger keeps one
// level per stream, a restore puts back every channel. Written by the ducking thread, read by
// the stop path after it has joined that thread.
struct Channels {
    pa_cvolume before;
    pa_cvolume set;
    // Where the server remembers the application's volume, to tell it the volume from before.
    std::string restoreKey;
    pa_channel_map map;
    bool muted;
};
std::map<std::wstring, Channels>& g_channels = *new std::map<std::wstring, Channels>;

std::wstring identifierOf(std::uint32_t index) {
    return L"sink-input:" + std::to_wstring(index);
}

// A level as the log shows it: the server keeps volumes in steps, so four decimals are all a
// level read back has.
float level(pa_volume_t volume) {
    return static_cast<float>(std::round(pa_sw_volume_to_linear(volume) * 10000.0) / 10000.0);
}

// Every channel scaled by the same linear ratio.
pa_cvolume scaled(const pa_cvolume& volume, float ratio) {
    pa_cvolume result = volume;
    for (unsigned channel = 0; channel < volume.channels; ++channel) {
        result.values[channel] = pa_sw_volume_from_linear(ratio * pa_sw_volume_to_linear(volume.values[channel]));
    }
    return result;
}

std::string label(const PulseConnection::SinkInput& input) {
    return input.binary.empty() ? "pid " + std::to_string(input.pid)
                                : input.binary + " (pid " + std::to_string(input.pid) + ")";
}

void duckStream(PulseConnection& pulse, const PulseConnection::SinkInput& input, float ratio, bool reapply) {
    const std::wstring key = identifierOf(input.index);
    if (!input.hasVolume) {
        if (g_savedVolumes.firstVolumeFailure(key)) {
            LogLine() << "[win-helper] Failed to access session volume for " << label(input)
                      << " hr=" << PA_ERR_NOTSUPPORTED;
        }
        return;
    }
    const DuckingLedger::Plan plan = g_savedVolumes.plan(key, reapply);
    if (plan.action == DuckingLedger::Action::Leave) {
        return;
    }
    const bool lower = plan.action == DuckingLedger::Action::Lower;
    const pa_cvolume original = lower ? input.volume : g_channels[key].before;
    const float before = lower ? g_savedVolumes.originalVolume(key, level(pa_cvolume_max(&original)), {}) : plan.before;
    const float after = duckedVolume(ratio, before);
    const pa_cvolume target = scaled(original, ratio);
    const auto previous =
        lower ? g_savedVolumes.recordLowered(key, before, after) : g_savedVolumes.recordReapplied(key, after);
    // Journal first: a kill right after the volume is set must find it listed (durably before a
    // first lowering; a new ratio lists both volumes and needs no flush).
    persistLedgerJournal(lower ? JournalWrite::Durable : JournalWrite::Ordinary);
    if (!pulse.setSinkInputVolume(input.index, target)) {
        g_savedVolumes.revert(key, previous);
        LogLine() << (lower ? "[win-helper] Failed to duck session " : "[win-helper] Failed to update ducked session ")
                  << label(input) << " hr=" << pulse.lastError();
        return;
    }
    g_channels[key] = {original, target, input.restoreKey, input.map, input.muted};
    // The server remembers the volume just set as the application's own, for its next stream:
    // it is told the volume from before instead.
    if (!input.restoreKey.empty()) {
        pulse.rememberVolume(input.restoreKey, input.map, original, input.muted);
    }
    LogLine() << (lower ? "[win-helper] Ducking session " : "[win-helper] Updating ducking session ") << label(input)
              << ": " << before << " -> " << after;
}

void runPass(PulseConnection& pulse, std::uint32_t targetPid, float ratio, bool reapply) {
    const ProcessTable table = snapshotProcesses();
    const auto ownPid = static_cast<std::uint32_t>(getpid());
    const bool includeMode = g_includeMode.load();
    for (const PulseConnection::SinkInput& input : pulse.sinkInputs()) {
        const bool related = isRelatedProcess(input.pid, targetPid, table, ownPid);
        if (!input.corked && isDuckingCandidate(input.pid, related, includeMode) &&
            !isExcludedByName(input.pid, table)) {
            duckStream(pulse, input, ratio, reapply);
        }
    }
}

}  // namespace

void restorePulseVolumes(PulseConnection& pulse) {
    LogLine() << "[win-helper] Restoring audio session volumes...";
    DuckingLedger::RestoreOutcome outcome;
    const auto& entries = g_savedVolumes.entries();
    for (const PulseConnection::SinkInput& input : pulse.sinkInputs()) {
        const std::wstring key = identifierOf(input.index);
        const auto entry = entries.find(key);
        const auto channels = g_channels.find(key);
        if (entry == entries.end() || channels == g_channels.end()) {
            continue;
        }
        // A stream the user changed meanwhile keeps the user's volume.
        if (!pa_cvolume_equal(&input.volume, &channels->second.set)) {
            outcome.dropped.insert(key);
            continue;
        }
        if (!pulse.setSinkInputVolume(input.index, channels->second.before)) {
            LogLine() << "[win-helper] Failed to restore session volume hr=" << pulse.lastError();
            outcome.failed.insert(key);
            continue;
        }
        LogLine() << "[win-helper] Restored session volume to: " << entry->second.before;
        outcome.restored.insert(key);
    }
    // A stream that ended while lowered may have left the lowered volume as its application's
    // memory (PipeWire's session manager stores the volume set a moment after the program's word
    // at the lowering): the volume from before is told again.
    for (const auto& [key, channels] : g_channels) {
        if (outcome.restored.count(key) == 0 && outcome.dropped.count(key) == 0 && !channels.restoreKey.empty()) {
            pulse.rememberVolume(channels.restoreKey, channels.map, channels.before, channels.muted);
        }
    }
    g_savedVolumes.finishRestore(outcome);
    for (auto it = g_channels.begin(); it != g_channels.end();) {
        it = entries.count(it->first) == 0 ? g_channels.erase(it) : std::next(it);
    }
    persistLedgerJournal();
}

namespace {

// The server keeps volumes in steps: a level within half a log step of one the program set is
// that one.
std::optional<float> snapped(float current, float set, std::optional<float> previousSet) {
    for (const std::optional<float> candidate : {std::optional<float>(set), previousSet}) {
        if (candidate && std::abs(current - *candidate) <= 0.00005f + 1e-6f * *candidate) {
            return candidate;
        }
    }
    return current;
}

// Applies the recovery rule to one journal's streams and rewrites it with what is left.
void recover(PulseConnection& pulse, StoredJournal& stored, bool logRestored) {
    std::map<std::wstring, const JournalEntry*> byIdentifier;
    for (const JournalEntry& entry : stored.journal.entries) {
        byIdentifier.emplace(entry.identifier, &entry);
    }
    std::map<std::wstring, bool> finished;  // identifier -> put back or dropped
    for (const PulseConnection::SinkInput& input : pulse.sinkInputs()) {
        const auto found = byIdentifier.find(identifierOf(input.index));
        if (found == byIdentifier.end() || !input.hasVolume) {
            continue;
        }
        const JournalEntry& entry = *found->second;
        const float current = level(pa_cvolume_max(&input.volume));
        switch (recoveryAction(snapped(current, entry.set, entry.previousSet), entry.set, entry.previousSet)) {
            case RecoveryAction::Restore: {
                // Each channel back in proportion; from silence, every channel at the level from before.
                pa_cvolume back = input.volume;
                if (current > 0.0f) {
                    back = scaled(input.volume, entry.before / current);
                } else {
                    pa_cvolume_set(&back, input.volume.channels, pa_sw_volume_from_linear(entry.before));
                }
                if (pulse.setSinkInputVolume(input.index, back)) {
                    if (logRestored) {
                        LogLine() << "[win-helper] Restored session volume left lowered by an earlier run to: "
                                  << entry.before;
                    }
                    finished[entry.identifier] = true;
                }
                break;
            }
            case RecoveryAction::Drop: finished[entry.identifier] = true; break;
            case RecoveryAction::Keep: break;
        }
    }
    std::vector<JournalEntry> left;
    for (const JournalEntry& entry : stored.journal.entries) {
        if (finished.count(entry.identifier) == 0) {
            left.push_back(entry);
        }
    }
    stored.journal.entries = std::move(left);
    rewriteJournal(stored);
}

}  // namespace

void recoverEndedPulseJournals(PulseConnection& pulse) {
    forEachEndedRunJournal([&](StoredJournal& stored) { recover(pulse, stored, true); });
}

void recoverPulseJournalOf(PulseConnection& pulse, const ProcessIdentity& owner) {
    forJournalOf(owner, [&](StoredJournal& stored) { recover(pulse, stored, false); });
}

void pulseDuckingThreadMain(PulseConnection& pulse, std::uint32_t targetPid) {
    recoverEndedPulseJournals(pulse);
    float lastRatio = -1.0f;
    const auto waitUntil = [](auto done) {
        g_runSignal.waitFor(kPassInterval, [&] { return !g_captureRunning.load() || done(); });
    };
    while (g_captureRunning.load()) {
        const float ratio = g_duckRatio.load();
        const PassPlan plan = planPass(ratio, lastRatio, g_savedVolumes.nothingLowered());
        lastRatio = ratio;
        switch (plan.kind) {
            case PassKind::RestoreAndClear: restorePulseVolumes(pulse); break;
            case PassKind::Idle: waitUntil([] { return g_duckRatio.load() < kDuckOffThreshold; }); break;
            case PassKind::Enumerate:
                runPass(pulse, targetPid, ratio, plan.reapply);
                g_savedVolumes.settle();
                persistLedgerJournal();
                waitUntil([ratio] { return g_duckRatio.load() != ratio; });
                break;
        }
    }
}
