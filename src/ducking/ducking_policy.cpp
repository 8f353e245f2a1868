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
                     const ProcessTable& table, std::uint32_t ownPid) {
    const bool related = isRelatedProcess(sessionPid, targetPid, table, ownPid);
    return active && isDuckingCandidate(sessionPid, related, includeMode) && !isExcludedByName(sessionPid, table);
}

float duckedVolume(float ratio, float volume) {
    return ratio * volume;
}
