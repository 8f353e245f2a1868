#include "capture/stream_mixer.h"

#include <algorithm>
#include <utility>

#include "capture/cross_fade.h"

StreamMixer::StreamMixer(std::size_t tickFrames, std::size_t maxQueuedFrames)
    : tickFrames_(tickFrames), capacity_(std::max(maxQueuedFrames, 2 * tickFrames)) {}

void StreamMixer::addStream(std::uint32_t id) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Queue& queue = queues_[id];
    queue.ring.resize(capacity_);
    queue.primeFrames = 2 * tickFrames_;
}

void StreamMixer::removeStream(std::uint32_t id) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = queues_.find(id);
    if (found != queues_.end()) {
        removedLost_ = std::max(removedLost_, found->second.lost);
        queues_.erase(found);
    }
}

void StreamMixer::endStream(std::uint32_t id) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = queues_.find(id);
    if (found == queues_.end() || found->second.ending) {
        return;
    }
    Queue& queue = found->second;
    queue.ending = true;
    // Its last frames fade out (a fade in, read backwards from the end, from silence).
    const std::size_t last = queue.start + queue.size - 1;
    crossFade(
        std::min(crossFadeFrames(tickFrames_ * kTicksPerSecond), queue.size),
        [&](std::size_t i) -> float& { return queue.ring[(last - i) % capacity_]; }, [](std::size_t) { return 0.0f; });
}

void StreamMixer::handOver(const std::vector<std::uint32_t>& from, std::uint32_t to) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = queues_.find(to);
    if (found == queues_.end()) {
        return;
    }
    for (const std::uint32_t id : from) {
        const auto replaced = queues_.find(id);
        if (replaced != queues_.end() && id != to) {
            replaced->second.ending = true;
            found->second.replaces.push_back(id);
        }
    }
}

void StreamMixer::push(std::uint32_t id, const float* mono, std::size_t frames) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = queues_.find(id);
    if (found == queues_.end()) {
        return;
    }
    Queue& queue = found->second;
    if (queue.ending) {
        return;
    }
    // Only the newest frames that fit are kept; the others are lost.
    if (frames > capacity_) {
        queue.lost += frames - capacity_;
        mono += frames - capacity_;
        frames = capacity_;
    }
    const std::size_t overflow = queue.size + frames > capacity_ ? queue.size + frames - capacity_ : 0;
    queue.lost += overflow;
    queue.start = (queue.start + overflow) % capacity_;
    queue.size -= overflow;
    for (std::size_t i = 0; i < frames; ++i) {
        queue.ring[(queue.start + queue.size + i) % capacity_] = mono[i];
    }
    queue.size += frames;
}

void StreamMixer::lose(std::uint32_t id, std::size_t frames) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = queues_.find(id);
    if (found != queues_.end()) {
        found->second.lost += frames;
    }
}

void StreamMixer::mix(float* out) {
    std::fill_n(out, tickFrames_, 0.0f);
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [id, queue] : queues_) {
        if (!queue.replaces.empty() && !queue.primed && !queue.ending && queue.size >= queue.primeFrames) {
            takeOver(queue);
        }
    }
    for (auto entry = queues_.begin(); entry != queues_.end();) {
        Queue& queue = entry->second;
        if (queue.ending) {
            // What it holds plays out, primed or not; then it is gone.
            addTick(queue, out);
            if (queue.size == 0) {
                removedLost_ = std::max(removedLost_, queue.lost);
                entry = queues_.erase(entry);
            } else {
                ++entry;
            }
            continue;
        }
        ++entry;
        if (!queue.primed) {
            queue.primed = queue.size >= queue.primeFrames;
            if (!queue.primed) {
                continue;
            }
        }
        queue.primed = addTick(queue, out) == tickFrames_;
        if (!queue.primed) {
            queue.primeFrames = std::min(2 * queue.primeFrames, capacity_ / 2);
            queue.windowTicks = 0;
            queue.lowest = kNoLevel;
            continue;
        }
        queue.lowest = std::min(queue.lowest, queue.size);
        if (++queue.windowTicks == kTrimWindowTicks) {
            dropBacklog(queue);
        }
    }
}

void StreamMixer::takeOver(Queue& queue) {
    std::vector<float> before(std::min(crossFadeFrames(tickFrames_ * kTicksPerSecond), queue.size), 0.0f);
    for (const std::uint32_t id : queue.replaces) {
        const auto replaced = queues_.find(id);
        if (replaced == queues_.end()) {
            continue;  // it played out what it held already
        }
        const Queue& old = replaced->second;
        for (std::size_t i = 0; i < before.size() && i < old.size; ++i) {
            before[i] += old.ring[(old.start + i) % capacity_];
        }
        removedLost_ = std::max(removedLost_, old.lost);
        queues_.erase(replaced);
    }
    queue.replaces.clear();
    crossFade(
        before.size(), [&](std::size_t i) -> float& { return queue.ring[(queue.start + i) % capacity_]; },
        [&](std::size_t i) { return before[i]; });
}

std::size_t StreamMixer::addTick(Queue& queue, float* out) const {
    const std::size_t take = std::min(queue.size, tickFrames_);
    for (std::size_t i = 0; i < take; ++i) {
        out[i] += queue.ring[(queue.start + i) % capacity_];
    }
    queue.start = (queue.start + take) % capacity_;
    queue.size -= take;
    return take;
}

void StreamMixer::dropBacklog(Queue& queue) const {
    const std::size_t lowest = queue.lowest;
    queue.windowTicks = 0;
    queue.lowest = kNoLevel;
    if (lowest < queue.primeFrames + tickFrames_) {
        return;
    }
    const std::size_t drop = lowest - queue.primeFrames;
    const std::size_t next = (queue.start + drop) % capacity_;
    crossFade(
        crossFadeFrames(tickFrames_ * kTicksPerSecond),
        [&](std::size_t i) -> float& { return queue.ring[(next + i) % capacity_]; },
        [&](std::size_t i) { return queue.ring[(queue.start + i) % capacity_]; });
    queue.start = next;
    queue.size -= drop;
}

std::size_t StreamMixer::streamCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return queues_.size();
}

std::size_t StreamMixer::takeLostFrames() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t lost = std::exchange(removedLost_, 0);
    for (auto& [id, queue] : queues_) {
        lost = std::max(lost, std::exchange(queue.lost, 0));
    }
    return lost;
}
