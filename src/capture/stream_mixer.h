#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

// Mixes the separately captured streams of several applications on a steady clock, as a sound
// server's mix of them would sound: each stream's mono frames wait in a queue of their own, and
// every tick sums one tick's frames from each. A stream starts to count once two ticks are
// queued, so the small jitter of its delivery costs no gaps; each time it runs dry it waits for
// twice as much before it counts again (up to half the bound), so a server that delivers in
// bursts costs one gap, not one per burst. A stream that has nothing contributes silence; a
// stream that runs ahead loses its oldest frames beyond the bound, so memory never grows.
// A stream whose queue, over 100 ticks in a row that it counted in, never came down to what it
// waits for (plus a tick) holds a backlog it does not need, only delay (a burst at its start, a
// server clock running fast): the excess oldest frames are dropped, with a short cross-fade over
// the cut: that was only delay, never lost audio.
// What is lost is counted: the frames a stream loses beyond its bound, and those the server says
// a stream lost on its way here. Streams that lose frames together lose the same stretch of the
// mix, so the mix's loss is the most any one stream lost since it was last taken.
// A stream that ends (endStream) plays out what it holds, then leaves; one may take over from
// others (handOver), with a short cross-fade where it comes in.
// Streams are pushed from one thread and mixed from another.
class StreamMixer {
public:
    StreamMixer(std::size_t tickFrames, std::size_t maxQueuedFrames);

    void addStream(std::uint32_t id);
    void removeStream(std::uint32_t id);
    // The stream takes no more frames: it plays out what it holds, its last millisecond faded
    // out, then is removed.
    void endStream(std::uint32_t id);
    // The stream `to` (added) takes over from the streams `from`, which take no more frames and
    // play out what they hold: at the tick `to` first counts, its first millisecond fades in from
    // what they would have played, and they leave.
    void handOver(const std::vector<std::uint32_t>& from, std::uint32_t to);
    // Frames for a stream that is not (or no longer) added are dropped.
    void push(std::uint32_t id, const float* mono, std::size_t frames);
    // The server moved on past this many of a stream's frames before they reached it.
    void lose(std::uint32_t id, std::size_t frames);
    // One tick's mix: out receives tickFrames values.
    void mix(float* out);

    std::size_t tickFrames() const { return tickFrames_; }
    std::size_t streamCount() const;
    // The frames of the mix lost since the last call (see above).
    std::size_t takeLostFrames();

private:
    struct Queue {
        std::vector<float> ring;
        std::size_t start = 0;
        std::size_t size = 0;
        bool primed = false;
        std::size_t primeFrames = 0;          // queued frames it waits for before it counts
        std::size_t lowest = kNoLevel;        // the least left queued after a tick, this window
        unsigned windowTicks = 0;             // ticks counted in, in a row, this window
        std::size_t lost = 0;                 // frames lost since the loss was last taken
        bool ending = false;                  // plays out what it holds (endStream)
        std::vector<std::uint32_t> replaces;  // the streams it takes over from once it counts
    };

    static constexpr std::size_t kNoLevel = static_cast<std::size_t>(-1);
    static constexpr std::size_t kTicksPerSecond = 100;  // 10 ms ticks
    static constexpr unsigned kTrimWindowTicks = 100;

    // The queue, about to count for the first time, takes over from those it replaces.
    void takeOver(Queue& queue);
    // Adds up to a tick of the queue's oldest frames to out and takes them off; how many.
    std::size_t addTick(Queue& queue, float* out) const;
    void dropBacklog(Queue& queue) const;

    const std::size_t tickFrames_;
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::map<std::uint32_t, Queue> queues_;
    // The most a removed stream lost since the loss was last taken.
    std::size_t removedLost_ = 0;
};
