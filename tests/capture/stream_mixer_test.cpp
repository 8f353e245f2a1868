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
    StreamMixer mixer(2, 6);
    mixer.addStream(1);
    mixer.addStream(2);
    const float a[] = {1, 2, 3, 4, 5};
    mixer.push(1, a, 3);
    EXPECT_EQ(tick(mixer), (std::vector<float>{0, 0})) << "fewer than two ticks queued: not yet counted";
    mixer.push(1, a + 3, 1);
    const float b[] = {10, 20, 30, 40};
    mixer.push(2, b, 4);
    EXPECT_EQ(tick(mixer), (std::vector<float>{11, 22}));
    EXPECT_EQ(tick(mixer), (std::vector<float>{33, 44}));
    mixer.push(1, a + 4, 1);
    EXPECT_EQ(tick(mixer), (std::vector<float>{5, 0})) << "a stream with less than a tick adds what it has";
    mixer.push(1, a, 3);
    EXPECT_EQ(tick(mixer), (std::vector<float>{0, 0})) << "ran dry: silence until two ticks are queued again";

    const float burst[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    mixer.push(1, burst, 9);
    EXPECT_EQ(tick(mixer), (std::vector<float>{4, 5})) << "only the newest six frames are kept";
    mixer.push(1, burst, 5);
    EXPECT_EQ(tick(mixer), (std::vector<float>{9, 1})) << "a push beyond the bound drops the oldest queued";
    mixer.push(3, a, 3);
    mixer.removeStream(1);
    EXPECT_EQ(tick(mixer), (std::vector<float>{0, 0})) << "removed and unknown streams add nothing";
    EXPECT_EQ(mixer.streamCount(), 1u);
}

}  // namespace
