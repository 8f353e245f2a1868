#include "ducking/ducking_ledger.h"

DuckingLedger g_savedVolumes;

DuckingLedger::Plan DuckingLedger::plan(const std::wstring& identifier, bool reapply) const {
    const auto saved = saved_.find(identifier);
    if (saved == saved_.end()) {
        return {Action::Lower, std::nullopt};
    }
    if (reapply) {
        return {Action::Reapply, saved->second};
    }
    return {Action::Leave, std::nullopt};
}

void DuckingLedger::saveLowered(const std::wstring& identifier, float before) {
    saved_.emplace(identifier, before);
}

bool DuckingLedger::firstVolumeFailure(const std::wstring& identifier) {
    return reportedVolumeFailures_.insert(identifier).second;
}
