#include "capture/steady_stream.h"

#include <algorithm>

#include "capture/cross_fade.h"

namespace {

constexpr std::int64_t kGapMs = 20;
constexpr int kAdjustMs = 20;
constexpr std::int64_t kLagMs = 200;
constexpr std::int64_t kAheadMs = 500;
constexpr std::int64_t kStampUnitsPerSecond = 10000000;  // 100 ns

// value x multiplier / divisor, rounded down, without overflow for the values met here (days
// of a counter of up to some GHz, rates of up to some MHz).
std::int64_t scaleDown(std::int64_t value, std::int64_t multiplier, std::int64_t divisor) {
    std::int64_t whole = value / divisor;
    std::int64_t rest = value % divisor;
    if (rest < 0) {
        rest += divisor;
        --whole;
    }
    return whole * multiplier + rest * multiplier / divisor;
}

std::int64_t framesIn(std::int64_t ms, std::uint32_t rate) {
    return ms * rate / 1000;
}

}  // namespace

SteadyStream::SteadyStream(std::uint32_t rate, std::uint64_t counterFrequency, std::uint64_t startCounter)
    : rate_(rate),
      counterFrequency_(counterFrequency),
      startCounter_(startCounter),
      startTime_(scaleDown(static_cast<std::int64_t>(startCounter), kStampUnitsPerSecond,
                           static_cast<std::int64_t>(counterFrequency))),
      gapFrames_(framesIn(kGapMs, rate)),
      adjustFrames_(framesIn(kAdjustMs, rate)),
      lagFrames_(framesIn(kLagMs, rate)),
      aheadFrames_(framesIn(kAheadMs, rate)) {}

std::int64_t SteadyStream::framesAtCounter(std::uint64_t counter) const {
    return scaleDown(static_cast<std::int64_t>(counter - startCounter_), rate_,
                     static_cast<std::int64_t>(counterFrequency_));
}

std::int64_t SteadyStream::framesAtStamp(std::uint64_t time) const {
    // Beyond any real stamp (some 14,000 years), and far from overflowing.
    constexpr std::uint64_t kLatest = std::uint64_t{1} << 62;
    return scaleDown(static_cast<std::int64_t>(std::min(time, kLatest)) - startTime_, rate_, kStampUnitsPerSecond);
}

int SteadyStream::place(const float* mono, std::size_t frames, const PacketStamp& stamp, std::uint64_t now) {
    const std::int64_t arrival = framesAtCounter(now);
    std::int64_t at = stamp.valid ? std::min(framesAtStamp(stamp.time), arrival) : arrival;
    std::uint64_t devicePosition = stamp.devicePosition;
    // What was captured before the start has no place in the stream: the rest of the packet
    // lands at its stamp.
    if (at < 0) {
        if (-at >= static_cast<std::int64_t>(frames)) {
            return 0;
        }
        const auto early = static_cast<std::size_t>(-at);
        mono += early;
        frames -= early;
        devicePosition += early;
        at = 0;
    }
    const std::int64_t end = this->end();
    const bool followsOn = started_ && devicePosition == nextDevicePosition_ && at - previousEnd_ <= gapFrames_;
    int adjusted = 0;
    if (!followsOn) {
        // A new stretch: at its stamp, or where the stream is when that has passed.
        const std::int64_t placed = std::max(at, end);
        offset_ = placed - at;
        held_.resize(held_.size() + static_cast<std::size_t>(placed - end), 0.0f);
        held_.insert(held_.end(), mono, mono + frames);
    } else {
        const std::int64_t drift = stamp.valid ? at + offset_ - end : 0;
        if (drift >= adjustFrames_) {
            insertSilence(mono, frames);
            adjusted = kAdjustMs;
        } else {
            const std::size_t heldBefore = held_.size();
            held_.insert(held_.end(), mono, mono + frames);
            if (drift <= -adjustFrames_ && dropAudio(heldBefore)) {
                adjusted = -kAdjustMs;
            }
        }
    }
    // An engine that hands out faster than real time runs ahead of the clock: as in the mixer's
    // queues, the oldest frames beyond the bound are lost, so memory never grows.
    const std::int64_t ahead = this->end() - (arrival + aheadFrames_);
    if (ahead > 0) {
        held_.erase(held_.begin(), held_.begin() + std::min(static_cast<std::ptrdiff_t>(ahead),
                                                            static_cast<std::ptrdiff_t>(held_.size())));
    }
    started_ = true;
    nextDevicePosition_ = devicePosition + frames;
    previousEnd_ = at + static_cast<std::int64_t>(frames);
    return adjusted;
}

// The silence goes in before the packet: it fades out of the packet that would have played
// there, and the packet fades in out of it.
void SteadyStream::insertSilence(const float* mono, std::size_t frames) {
    const std::size_t cut = held_.size();
    const std::size_t resumed = cut + static_cast<std::size_t>(adjustFrames_);
    held_.resize(resumed, 0.0f);
    held_.insert(held_.end(), mono, mono + frames);
    const std::size_t fade = std::min(crossFadeFrames(rate_), frames);
    crossFade(
        fade, [&](std::size_t i) -> float& { return held_[cut + i]; },
        [&](std::size_t i) { return held_[resumed + i]; });
    crossFade(
        fade, [&](std::size_t i) -> float& { return held_[resumed + i]; }, [](std::size_t) { return 0.0f; });
}

// Drops the frames held last before the packet just placed or, when fewer are held, from the
// oldest held on. False when not that many are held: the drift then waits for the next packet.
bool SteadyStream::dropAudio(std::size_t heldBefore) {
    const auto drop = static_cast<std::size_t>(adjustFrames_);
    const std::size_t cut = heldBefore > drop ? heldBefore - drop : 0;
    if (cut + drop > held_.size()) {
        return false;
    }
    const std::size_t fade = std::min(crossFadeFrames(rate_), held_.size() - (cut + drop));
    crossFade(
        fade, [&](std::size_t i) -> float& { return held_[cut + drop + i]; },
        [&](std::size_t i) { return held_[cut + i]; });
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(cut),
                held_.begin() + static_cast<std::ptrdiff_t>(cut + drop));
    return true;
}

void SteadyStream::release(std::uint64_t now, std::vector<float>& out) {
    releaseUpTo(framesAtCounter(now) - lagFrames_, out);
}

void SteadyStream::finish(std::uint64_t now, std::vector<float>& out) {
    releaseUpTo(std::max(framesAtCounter(now), end()), out);
}

void SteadyStream::releaseUpTo(std::int64_t position, std::vector<float>& out) {
    if (position <= released_) {
        return;
    }
    const auto count = static_cast<std::size_t>(position - released_);
    const std::size_t fromHeld = std::min(count, held_.size());
    out.insert(out.end(), held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(fromHeld));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(fromHeld));
    out.resize(out.size() + (count - fromHeld), 0.0f);
    released_ = position;
}
