#include "ducking/ducking_ledger.h"

#include <algorithm>
#include <iterator>

DuckingLedger::Plan DuckingLedger::plan(const std::wstring& identifier, bool reapply) const {
    const auto entry = entries_.find(identifier);
    if (entry == entries_.end() || entry->second.pending) {
        return {Action::Lower, 0.0f};
    }
    if (reapply) {
        return {Action::Reapply, entry->second.before};
    }
    return {Action::Leave, 0.0f};
}

float DuckingLedger::originalVolume(const std::wstring& identifier, float current,
                                    const std::vector<Journal>& otherLiveJournals, LevelMatch match,
                                    const std::string& key) const {
    const auto atVolumeSet = [&](const Entry& entry) {
        return recoveryAction(current, entry.set, entry.previousSet, match) == RecoveryAction::Restore;
    };
    const auto entry = entries_.find(identifier);
    if (entry != entries_.end() && entry->second.pending && atVolumeSet(entry->second)) {
        return entry->second.before;
    }
    const float others = ::originalVolume(identifier, current, otherLiveJournals, match);
    if (others != current || key.empty()) {
        return others;
    }
    for (const auto& [sibling, lowered] : entries_) {
        if (sibling != identifier && lowered.key == key && atVolumeSet(lowered)) {
            return lowered.before;
        }
    }
    const auto ended = ended_.find(key);
    return ended != ended_.end() && atVolumeSet(ended->second.first) ? ended->second.first.before : current;
}

std::optional<DuckingLedger::Entry> DuckingLedger::recordLowered(const std::wstring& identifier, float before,
                                                                 float set, const std::string& key) {
    std::optional<Entry> previous;
    const auto [entry, added] = entries_.try_emplace(identifier, Entry{before, set, false, std::nullopt, key});
    if (!added) {
        previous = entry->second;
        entry->second = {before, set, false, std::nullopt, key};
    }
    ++changes_;
    return previous;
}

std::optional<DuckingLedger::Entry> DuckingLedger::recordReapplied(const std::wstring& identifier, float set) {
    const auto entry = entries_.find(identifier);
    if (entry == entries_.end()) {
        return std::nullopt;
    }
    const Entry previous = entry->second;
    entry->second.previousSet = entry->second.set;
    entry->second.set = set;
    ++changes_;
    return previous;
}

void DuckingLedger::settle() {
    for (auto& [identifier, entry] : entries_) {
        if (entry.previousSet) {
            entry.previousSet.reset();
            ++changes_;
        }
    }
}

std::vector<std::pair<std::wstring, DuckingLedger::Entry>> DuckingLedger::endAllBut(
    const std::set<std::wstring>& found) {
    std::vector<std::pair<std::wstring, Entry>> gone;
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        if (found.count(entry->first) > 0) {
            ++entry;
            continue;
        }
        if (!entry->second.key.empty()) {
            ended_[entry->second.key] = {entry->second, ++endings_};
            if (ended_.size() > kEndedApplications) {
                ended_.erase(std::min_element(ended_.begin(), ended_.end(), [](const auto& a, const auto& b) {
                    return a.second.second < b.second.second;
                }));
            }
        }
        gone.emplace_back(entry->first, std::move(entry->second));
        entry = entries_.erase(entry);
        ++changes_;
    }
    for (auto* reported : {&reportedVolumeFailures_, &reportedReadFailures_}) {
        for (auto identifier = reported->begin(); identifier != reported->end();) {
            identifier = found.count(*identifier) > 0 ? std::next(identifier) : reported->erase(identifier);
        }
    }
    return gone;
}

void DuckingLedger::revert(const std::wstring& identifier, const std::optional<Entry>& previous) {
    if (previous) {
        entries_[identifier] = *previous;
    } else {
        entries_.erase(identifier);
    }
    ++changes_;
}

bool DuckingLedger::firstVolumeFailure(const std::wstring& identifier) {
    return reportedVolumeFailures_.insert(identifier).second;
}

bool DuckingLedger::firstReadFailure(const std::wstring& identifier) {
    return reportedReadFailures_.insert(identifier).second;
}

void DuckingLedger::finishRestore(const RestoreOutcome& outcome) {
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        const std::wstring& identifier = entry->first;
        const bool failed = outcome.failed.count(identifier) > 0;
        const bool done = outcome.restored.count(identifier) > 0 || outcome.dropped.count(identifier) > 0;
        if (done && !failed) {
            entry = entries_.erase(entry);
            ++changes_;
            continue;
        }
        if (!entry->second.pending) {
            entry->second.pending = true;
            ++changes_;
        }
        ++entry;
    }
}

bool DuckingLedger::nothingLowered() const {
    for (const auto& [identifier, entry] : entries_) {
        if (!entry.pending) {
            return false;
        }
    }
    return true;
}

Journal DuckingLedger::journal(const ProcessIdentity& owner, const std::string& server, const std::string& boot) const {
    Journal journal;
    journal.owner = owner;
    journal.boot = boot;
    journal.server = server;
    for (const auto& [identifier, entry] : entries_) {
        journal.entries.push_back({identifier, entry.before, entry.set, entry.pending, entry.previousSet, entry.key});
    }
    return journal;
}
