#include "capture/steady_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

// A frame a millisecond, and a counter at 3 MHz, so that a counter reading taken for 100-ns
// units, or the other way round, puts a packet seconds away.
constexpr std::uint32_t kRate = 1000;
constexpr std::uint64_t kFrequency = 3000000;
constexpr std::uint64_t kStartCounter = 21012345;
constexpr std::uint64_t kStartTime = 70041150;  // the same instant in 100-ns units

std::uint64_t counterAt(std::uint64_t ms) {
    return kStartCounter + ms * 3000;
}

// Before the start when negative.
std::uint64_t stampAt(std::int64_t ms) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(kStartTime) + ms * 10000);
}

// A packet of ten frames of one value, or, with no release or finish time, a step of the run.
struct Step {
    float value = 0;
    std::uint64_t devicePosition = 0;
    std::int64_t stampMs = 0;
    bool stampValid = true;
    std::uint64_t arrivalMs = 0;
    enum { Packet, Release, Finish } kind = Packet;
    std::size_t releasedSoFar = 0;  // the stream's length after a release
};

Step packet(float value, std::uint64_t devicePosition, std::int64_t stampMs, std::uint64_t arrivalMs) {
    return {value, devicePosition, stampMs, true, arrivalMs};
}

Step flagged(float value, std::uint64_t devicePosition, std::uint64_t arrivalMs) {
    return {value, devicePosition, 0, false, arrivalMs};
}

Step release(std::uint64_t ms, std::size_t releasedSoFar) {
    Step step;
    step.arrivalMs = ms;
    step.kind = Step::Release;
    step.releasedSoFar = releasedSoFar;
    return step;
}

Step finish(std::uint64_t ms) {
    Step step;
    step.arrivalMs = ms;
    step.kind = Step::Finish;
    return step;
}

// Packets k = 0..count-1 following on, stamped every stampStepMs, each 10 ms after its stamp,
// of value firstValue + k x valueStep.
std::vector<Step> stretch(int count, std::uint64_t stampStepMs, float firstValue, float valueStep) {
    std::vector<Step> steps;
    for (int k = 0; k < count; ++k) {
        const auto n = static_cast<std::uint64_t>(k);
        steps.push_back(packet(firstValue + valueStep * static_cast<float>(k), 10 * n,
                               static_cast<std::int64_t>(stampStepMs * n), stampStepMs * n + 10));
    }
    return steps;
}

using Runs = std::vector<std::pair<float, std::size_t>>;

Runs runsOf(const std::vector<float>& stream) {
    Runs runs;
    for (const float value : stream) {
        if (runs.empty() || runs.back().first != value) {
            runs.emplace_back(value, 0);
        }
        ++runs.back().second;
    }
    return runs;
}

Runs tenEach(float first, float last) {
    Runs runs;
    for (float value = first; value <= last; ++value) {
        runs.emplace_back(value, 10);
    }
    return runs;
}

Runs operator+(Runs a, const Runs& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(SteadyStream, PlacesPacketsByStampsAndPositionsOnTheWallClock) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        Runs stream;
        std::vector<int> adjustments;
    };
    const std::vector<Step> slow = stretch(21, 11, 1, 0);
    const std::vector<Step> fast = stretch(21, 9, 1, 1);
    const Case cases[] = {
        {"a gap of more than 20 ms is silence, whether or not the position went on",
         {packet(1, 0, 0, 10), packet(2, 10, 45, 55), packet(3, 100, 80, 90), finish(100)},
         {{1, 10}, {0, 35}, {2, 10}, {0, 25}, {3, 10}, {0, 10}},
         {}},
        {"jittery stamps go back to back; a position that jumps starts again at its stamp, never overlapping",
         {packet(1, 0, 0, 10), packet(2, 10, 14, 24), packet(3, 20, 17, 30), packet(4, 30, 38, 48),
          packet(5, 55, 45, 55), packet(6, 0, 50, 62), finish(70)},
         {{1, 10}, {2, 10}, {3, 10}, {4, 10}, {0, 5}, {5, 10}, {6, 10}, {0, 5}},
         {}},
        {"released 200 ms behind: a late burst lands by its stamp, a later packet where the stream is",
         {packet(1, 0, 0, 10), release(300, 100), packet(2, 10, 150, 320), release(320, 120), packet(3, 50, 60, 335),
          release(335, 135), release(590, 390), packet(4, 500, 100, 600), release(600, 400), finish(650)},
         {{1, 10}, {0, 140}, {2, 10}, {3, 10}, {0, 220}, {4, 10}, {0, 250}},
         {}},
        // The start is the client's: the loop that places and writes comes later.
        {"the loop begins 1 s after the start: its first write carries all since, by the stamps",
         {packet(1, 0, 0, 1000), packet(2, 10, 10, 1000), packet(3, 20, 500, 1000), release(1000, 800),
          packet(4, 30, 990, 1010), release(1010, 810), finish(1100)},
         {{1, 10}, {2, 10}, {0, 480}, {3, 10}, {0, 480}, {4, 10}, {0, 100}},
         {}},
        {"stamped before the start: only what follows it is placed, at its stamp",
         {packet(1, 0, -25, 10), packet(2, 10, -4, 10), packet(3, 20, 6, 16), finish(30)},
         {{2, 6}, {3, 10}, {0, 14}},
         {}},
        {"a flagged stamp: placed by its arrival, never measured as drift; a stamp after the arrival is the arrival",
         {packet(1, 0, 0, 10), flagged(2, 10, 60), flagged(3, 20, 90), packet(4, 30, 500, 95), finish(100)},
         {{1, 10}, {0, 50}, {2, 10}, {3, 10}, {4, 10}, {0, 10}},
         {}},
        // Packet 20 is stamped 20 ms after where the packets before it end: 20 ms of silence go
        // in, fading out of it and back into it over a frame.
        {"an engine clock 10 % slow: 20 ms of silence at once",
         slow,
         Runs{{1, 200}, {0.5f, 1}, {0, 19}, {0.5f, 1}, {1, 9}},
         {20}},
        // Packet 20 (value 21) is stamped 20 ms before where the packets before it end: packets
        // 18 and 19 are dropped, and its first frame is half theirs.
        {"an engine clock 10 % fast: 20 ms of audio dropped at once",
         fast,
         tenEach(1, 18) + Runs{{20, 1}, {21, 9}},
         {-20}},
    };
    for (const Case& c : cases) {
        SteadyStream stream(kRate, kFrequency, kStartCounter);
        std::vector<float> out;
        std::vector<int> adjustments;
        bool finished = false;
        for (const Step& step : c.steps) {
            if (step.kind == Step::Release) {
                stream.release(counterAt(step.arrivalMs), out);
                EXPECT_EQ(out.size(), step.releasedSoFar) << c.name << " at " << step.arrivalMs << " ms";
                continue;
            }
            if (step.kind == Step::Finish) {
                stream.finish(counterAt(step.arrivalMs), out);
                finished = true;
                continue;
            }
            const std::vector<float> frames(10, step.value);
            const PacketStamp stamp{step.devicePosition, step.stampValid ? stampAt(step.stampMs) : 0, step.stampValid};
            const int adjusted = stream.place(frames.data(), frames.size(), stamp, counterAt(step.arrivalMs));
            if (adjusted != 0) {
                adjustments.push_back(adjusted);
            }
        }
        if (!finished) {
            stream.finish(counterAt(c.steps.back().arrivalMs), out);
        }
        EXPECT_EQ(runsOf(out), c.stream) << c.name;
        EXPECT_EQ(adjustments, c.adjustments) << c.name;
    }
}

}  // namespace
