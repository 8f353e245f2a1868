#include "app/capture_status.h"

#include <algorithm>

#include "common/log.h"
#include "common/protocol_text.h"

TargetTreeWatch::TargetTreeWatch(std::uint32_t targetPid) {
    if (const std::optional<ProcessIdentity> target = processIdentityOf(targetPid)) {
        found_ = true;
        members_[targetPid] = *target;
    } else {
        ended_ = true;  // a target that never ran has no end to tell
    }
}

bool TargetTreeWatch::alive(const ProcessIdentity& member) const {
    // A creation time that could not be read leaves the id alone to tell.
    return member.creationTime == 0 ? processIdentityOf(member.pid).has_value() : isProcessAlive(member);
}

bool TargetTreeWatch::endedNow(const ProcessTable& table) {
    if (ended_) {
        return false;
    }
    // A child is one whose parent is a member, created no earlier than it: a process older than
    // the member that has its id now was the child of an earlier owner of that id.
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [pid, entry] : table) {
            const auto parent = members_.find(entry.parentPid);
            if (parent == members_.end() || members_.count(pid) > 0) {
                continue;
            }
            const std::optional<ProcessIdentity> child = processIdentityOf(pid);
            if (child && (child->creationTime == 0 || parent->second.creationTime == 0 ||
                          child->creationTime >= parent->second.creationTime)) {
                members_[pid] = *child;
                grew = true;
            }
        }
    }
    std::erase_if(members_, [this](const auto& member) { return !alive(member.second); });
    ended_ = members_.empty();
    return ended_;
}

SilenceEvidence silenceEvidence(const std::vector<const AudioSession*>& recorded, bool heard, SilenceBasis basis) {
    bool playing = false;
    bool audible = false;
    for (const AudioSession* session : recorded) {
        // A session whose level cannot be had does not count.
        if (session->active && session->audible) {
            playing = true;
            audible = audible || *session->audible;
        }
    }
    if (basis == SilenceBasis::Samples) {
        // The meters show sound; the samples tell whether it reached the capture.
        return heard ? SilenceEvidence::Heard : (audible ? SilenceEvidence::Silent : SilenceEvidence::Neither);
    }
    if (!playing) {
        return SilenceEvidence::Neither;
    }
    return audible ? SilenceEvidence::Heard : SilenceEvidence::Silent;
}

const char* SilenceWatch::check(SilenceEvidence evidence, std::chrono::steady_clock::time_point now) {
    switch (evidence) {
        case SilenceEvidence::Silent:
            if (!since_) {
                since_ = now;
                checks_ = 0;
            }
            ++checks_;
            if (!reported_ && checks_ >= 2 && now - *since_ >= kSilentStretch) {
                reported_ = true;
                return kCaptureSilentLine;
            }
            return nullptr;
        case SilenceEvidence::Heard:
            since_.reset();
            if (reported_) {
                reported_ = false;
                return kCaptureNotSilentLine;
            }
            return nullptr;
        case SilenceEvidence::Neither:
            // Nothing plays: no stretch goes on, and none has ended until the capture hears again.
            since_.reset();
            return nullptr;
    }
    return nullptr;
}

std::optional<std::uint64_t> LossReport::take(std::atomic<std::uint64_t>& lostMicroseconds,
                                              std::chrono::steady_clock::time_point now) {
    if (last_ && now - *last_ < kLineInterval) {
        return std::nullopt;
    }
    pending_ += lostMicroseconds.exchange(0);
    const std::uint64_t milliseconds = (pending_ + 500) / 1000;
    if (milliseconds == 0) {
        return std::nullopt;
    }
    pending_ = 0;
    last_ = now;
    return milliseconds;
}

CaptureStatus::CaptureStatus(std::uint32_t targetPid, bool includeMode, std::uint32_t ownPid, SilenceBasis basis,
                             CaptureHealth& health)
    : targetPid_(targetPid),
      includeMode_(includeMode),
      ownPid_(ownPid),
      basis_(basis),
      health_(health),
      tree_(targetPid) {}

void CaptureStatus::announceStart() const {
    if (!tree_.found()) {
        LogLine() << kTargetNotFoundPrefix << targetPid_;
    }
}

void CaptureStatus::sawPass(const std::vector<AudioSession>& sessions, const ProcessTable& table) {
    check(sessions, table, std::chrono::steady_clock::now());
}

void CaptureStatus::check(const std::vector<AudioSession>& sessions, const ProcessTable& table,
                          std::chrono::steady_clock::time_point now) {
    if (tree_.endedNow(table)) {
        LogLine() << kTargetTreeEndedPrefix << targetPid_;
    }
    std::vector<const AudioSession*> recorded;
    for (const AudioSession& session : sessions) {
        if (isRecordedProcess(session.pid, targetPid_, includeMode_, table, ownPid_)) {
            recorded.push_back(&session);
        }
    }
    const bool heard = health_.heard.exchange(false);
    if (const char* line = silence_.check(silenceEvidence(recorded, heard, basis_), now)) {
        LogLine() << line;
    }
    if (const std::optional<std::uint64_t> lost = loss_.take(health_.lostMicroseconds, now)) {
        LogLine() << audioLostLine(*lost);
    }
}
