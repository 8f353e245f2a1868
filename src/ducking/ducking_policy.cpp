#include "ducking/ducking_policy.h"

#include "common/text.h"

PassPlan planPass(float ratio, float lastRatio, bool nothingSaved) {
    // Written as a negated equality so that a NaN on either side is a change.
    const bool changed = !(ratio == lastRatio);
    const bool duckingOff = ratio >= kDuckOffThreshold;
    if (changed && duckingOff) {
        return {PassKind::RestoreAndClear, false};
    }
    if (!changed && duckingOff && nothingSaved) {
        return {PassKind::Idle, false};
    }
    return {PassKind::Enumerate, changed};
}

bool isDuckingCandidate(std::uint32_t sessionPid, bool related, bool includeMode) {
    return sessionPid != 0 && selectedByMode(related, includeMode);
}

bool isExcludedByName(std::uint32_t sessionPid, const ProcessTable& table) {
    const auto entry = table.find(sessionPid);
    return entry != table.end() && isExcludedProcessName(entry->second.exeName);
}

bool isLoweredByPass(std::uint32_t sessionPid, bool active, std::uint32_t targetPid, bool includeMode,
                     const ProcessTable& table, std::uint32_t ownPid, const DuckingChoice& choice) {
    if (!active) {
        return false;
    }
    const bool related = isRelatedProcess(sessionPid, targetPid, table, ownPid);
    // The target's tree is what include mode selects: an explicit choice is that mode's rule.
    const bool lowersTree =
        choice.sessions == DuckedSessions::ByMode ? includeMode : choice.sessions == DuckedSessions::TargetTree;
    if (!isDuckingCandidate(sessionPid, related, lowersTree) || isExcludedByName(sessionPid, table)) {
        return false;
    }
    for (const std::uint32_t kept : choice.kept) {
        if (isRelatedProcess(sessionPid, kept, table, kept)) {
            return false;
        }
    }
    return true;
}

float duckedVolume(float ratio, float volume) {
    return ratio * volume;
}
