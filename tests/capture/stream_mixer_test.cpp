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

    mixer.push(2, a, 1);
    mixer.endStream(2);
    mixer.push(2, a + 1, 4);
    EXPECT_EQ(tick(mixer), (std::vector<float>{1, 0})) << "an ended stream plays out what it held, unprimed";
    EXPECT_EQ(mixer.streamCount(), 0u) << "and is gone once it ran dry; what came after its end was dropped";
}

TEST(StreamMixer, AStreamTakesOverFromOthersAndAnEndedOneFadesOut) {
    // Ten-frame ticks at 1,000 frames a second: a millisecond's cross-fade is one frame, halfway.
    StreamMixer mixer(10, 100);
    const std::vector<float> ones(30, 1.0f);
    const std::vector<float> threes(20, 3.0f);
    mixer.addStream(1);
    mixer.push(1, ones.data(), 30);
    EXPECT_EQ(tick(mixer), std::vector<float>(10, 1.0f));
    mixer.addStream(2);
    mixer.handOver({1}, 2);
    mixer.push(1, threes.data(), 20);
    mixer.push(2, threes.data(), 5);
    EXPECT_EQ(tick(mixer), std::vector<float>(10, 1.0f)) << "the old stream plays on (and takes nothing more)";
    mixer.push(2, threes.data(), 15);
    std::vector<float> handedOver(10, 3.0f);
    handedOver[0] = 2.0f;
    EXPECT_EQ(tick(mixer), handedOver) << "the new one counts: it comes in from the old, which leaves";
    EXPECT_EQ(mixer.streamCount(), 1u);

    mixer.push(2, ones.data(), 10);
    mixer.endStream(2);
    EXPECT_EQ(tick(mixer), std::vector<float>(10, 3.0f));
    std::vector<float> fadedOut(10, 1.0f);
    fadedOut[9] = 0.5f;
    EXPECT_EQ(tick(mixer), fadedOut) << "an ended stream's last millisecond fades out";
    EXPECT_EQ(mixer.streamCount(), 0u);
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
