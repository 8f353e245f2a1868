#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// How the stream keeps time: each packet written as it comes (the default), or rate frames per
// second of wall-clock time, with silence when nothing plays.
enum class StreamClock { Packets, Steady };

// When a packet was captured, as the audio engine says it.
struct PacketStamp {
    // The engine's count of the stream's frames before the packet's first one.
    std::uint64_t devicePosition = 0;
    // The performance counter when the first frame was captured, in 100-ns units.
    std::uint64_t time = 0;
    // False when the engine flags the time as wrong.
    bool valid = true;
};

// Lays a capture's mono frames on the wall clock, so that the stream holds rate frames per
// second of time from its start, whatever the engine hands out and when:
// - a packet stamped more than 20 ms after the end of the packet before it starts a new stretch
//   at its stamp, and the gap is silence, whatever its device position says (the engine's count
//   may or may not go on over a silence);
// - within a stretch, packets whose device positions follow on go back to back, so jitter in
//   their stamps makes no clicks and no drift; a packet whose position does not follow on (the
//   engine lost or skipped frames) starts a new stretch at its stamp too;
// - once the stamps and the frames placed since the stretch began are 20 ms apart (the engine's
//   sample clock drifts against the counter), 20 ms of silence go in, or 20 ms of audio are
//   dropped, at once and with a cross-fade;
// - a packet whose stamp is flagged wrong is placed by its arrival, and is not used to measure
//   the drift (its arrival is late by however long it waited);
// - a stamp later than the packet's arrival is taken as its arrival;
// - the frames a packet holds from before the start are left out, and the rest of it lands at
//   its stamp; a packet wholly before the start is left out;
// - frames are released 200 ms behind the clock, so a late packet still lands where its stamp
//   says; a packet later than that goes where the stream is, after what is placed, and so is
//   released as soon as it is due: nothing is reordered or written twice;
// - frames placed more than 500 ms ahead of the clock (an engine handing out faster than real
//   time) lose the oldest held ones beyond that, as the mixer's queues do.
// "now" and the start are readings of the performance counter at its frequency; stamps are in
// 100-ns units, as the engine gives them. The start is the capture's (the engine stamps from
// then on), which may lie well before the first packet placed or the first release: the first
// release writes all that is due since the start.
class SteadyStream {
public:
    SteadyStream(std::uint32_t rate, std::uint64_t counterFrequency, std::uint64_t startCounter);

    // One packet's frames, taken from the engine at now. Returns the adjustment made, in ms:
    // 20 when silence went in, -20 when audio was dropped, 0 when none.
    int place(const float* mono, std::size_t frames, const PacketStamp& stamp, std::uint64_t now);
    // Appends to out the frames due at now: those up to 200 ms before it.
    void release(std::uint64_t now, std::vector<float>& out);
    // The stop: appends everything held, then silence up to now.
    void finish(std::uint64_t now, std::vector<float>& out);

private:
    // Frames since the start, at this counter reading or this stamp (before the start: negative).
    std::int64_t framesAtCounter(std::uint64_t counter) const;
    std::int64_t framesAtStamp(std::uint64_t time) const;
    std::int64_t end() const { return released_ + static_cast<std::int64_t>(held_.size()); }
    void insertSilence(const float* mono, std::size_t frames);
    bool dropAudio(std::size_t heldBefore);
    void releaseUpTo(std::int64_t position, std::vector<float>& out);

    const std::uint32_t rate_;
    const std::uint64_t counterFrequency_;
    const std::uint64_t startCounter_;
    const std::int64_t startTime_;  // the start in 100-ns units
    const std::int64_t gapFrames_;
    const std::int64_t adjustFrames_;
    const std::int64_t lagFrames_;
    const std::int64_t aheadFrames_;

    std::int64_t released_ = 0;  // frames handed out so far
    std::vector<float> held_;    // placed frames from released_ on

    bool started_ = false;                  // a packet was placed
    std::uint64_t nextDevicePosition_ = 0;  // where the next packet follows on
    std::int64_t previousEnd_ = 0;          // the end of the last packet by its stamp
    std::int64_t offset_ = 0;               // where this stretch lies against its stamps
};
