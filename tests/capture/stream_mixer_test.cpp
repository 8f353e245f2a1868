#include "capture/stream_mixer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<float> tick(StreamMixer& mixer) {
    std::vector<float> out(mixer.tickFrames());
    mixer.mix(out.data());
    return out;
}

TEST(StreamMixer, SumsStreamsOnTheClockWithABoundedQueueEach) {
    StreamMixer mixer(2, 12);
    mixer.addStream(1);
    mixer.addStream(2);
    const float a[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    mixer.push(1, a, 3);
    EXPECT_EQ(tick(mixer), (std::vector<float>{0, 0})) << "fewer than two ticks queued: not yet counted";
    mixer.push(1, a + 3, 1);
    const float b[] = {10, 20, 30, 40};
    mixer.push(2, b, 4);
    EXPECT_EQ(tick(mixer), (std::vector<float>{11, 22}));
    EXPECT_EQ(tick(mixer), (std::vector<float>{33, 44}));
    mixer.push(1, a + 4, 1);
    EXPECT_EQ(tick(mixer), (std::vector<float>{5, 0})) << "a stream with less than a tick adds what it has";
    mixer.push(1, a, 5);
    EXPECT_EQ(tick(mixer), (std::vector<float>{0, 0})) << "ran dry: it waits for twice as much (eight frames)";
    mixer.push(1, a + 5, 3);
    EXPECT_EQ(tick(mixer), (std::vector<float>{1, 2}));

    mixer.push(1, a, 16);
    EXPECT_EQ(tick(mixer), (std::vector<float>{5, 6})) << "only the newest twelve frames are kept";
    mixer.push(1, a, 3);
    EXPECT_EQ(tick(mixer), (std::vector<float>{8, 9})) << "a push beyond the bound drops the oldest queued";
    mixer.push(3, a, 3);
    mixer.removeStream(1);
    EXPECT_EQ(tick(mixer), (std::vector<float>{0, 0})) << "removed and unknown streams add nothing";
    EXPECT_EQ(mixer.streamCount(), 1u);
}

// Ramp frames 1, 2, 3, ...: a gap or a cut shows as a jump.
struct Ramp {
    float next = 1;
    void push(StreamMixer& mixer, std::size_t frames) {
        std::vector<float> values(frames);
        for (float& value : values) {
            value = next++;
        }
        mixer.push(1, values.data(), frames);
    }
};

TEST(StreamMixer, DropsABacklogNoTickOfASecondNeededButKeepsTheSlackOfABurstyStream) {
    StreamMixer late(2, 400);
    late.addStream(1);
    for (int t = 0; t < 50; ++t) {
        tick(late);  // nothing yet: the hundred ticks start when the stream counts
    }
    Ramp backlog;
    backlog.push(late, 100);
    for (int t = 0; t < 100; ++t) {
        backlog.push(late, 2);
        ASSERT_EQ(tick(late), (std::vector<float>{2.0f * t + 1, 2.0f * t + 2})) << t;
    }
    backlog.push(late, 2);
    EXPECT_EQ(tick(late), (std::vector<float>{297, 298})) << "a hundred ticks never below 100 frames: 96 dropped";
    EXPECT_EQ(late.takeLostFrames(), 0u) << "the backlog was only delay";

    StreamMixer bursty(2, 400);
    bursty.addStream(1);
    Ramp steady;
    steady.push(bursty, 2);
    for (int t = 0; t < 300; ++t) {
        if (t % 2 == 0) {
            steady.push(bursty, 4);
        }
        ASSERT_EQ(tick(bursty), (std::vector<float>{2.0f * t + 1, 2.0f * t + 2})) << t;
    }
}

TEST(StreamMixer, CountsWhatAStreamLostBeyondItsBoundOrOnItsWayAsTheMixsLoss) {
    StreamMixer mixer(2, 12);
    mixer.addStream(1);
    mixer.addStream(2);
    const std::vector<float> frames(20, 1.0f);
    mixer.push(1, frames.data(), 10);
    mixer.push(1, frames.data(), 5);   // 3 beyond the bound
    mixer.push(2, frames.data(), 20);  // 8 beyond it at once
    EXPECT_EQ(mixer.takeLostFrames(), 8u) << "streams lose the same stretch of the mix together: the most counts";
    EXPECT_EQ(mixer.takeLostFrames(), 0u) << "taken";
    mixer.lose(1, 5);
    mixer.lose(1, 2);
    mixer.lose(3, 50);  // not added: nothing
    EXPECT_EQ(mixer.takeLostFrames(), 7u);
    mixer.lose(2, 4);
    mixer.removeStream(2);
    mixer.lose(1, 1);
    EXPECT_EQ(mixer.takeLostFrames(), 4u) << "a removed stream's loss still counts";
    EXPECT_EQ(mixer.takeLostFrames(), 0u);
}

}  // namespace
