#include "capture/sink_recording.h"

#include <gtest/gtest.h>

namespace {

TEST(SinkRecording, TheMonitorServesOnlyWhileNothingThereIsLeftOutAndTheSinkPlaysAtFullVolume) {
    struct Case {
        const char* name;
        SinkStreams streams;
        SinkRecording expected;
    };
    const Case cases[] = {
        {"nothing taken plays there", {0, 0, true}, SinkRecording::Nothing},
        {"only streams left out play there", {0, 2, true}, SinkRecording::Nothing},
        {"one stream taken", {1, 0, true}, SinkRecording::Monitor},
        {"sixteen streams taken", {16, 0, true}, SinkRecording::Monitor},
        {"one stream left out beside them", {15, 1, true}, SinkRecording::EachStream},
        {"the sink's volume is not 100% or it is muted", {3, 0, false}, SinkRecording::EachStream},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sinkRecording(c.streams), c.expected) << c.name;
    }
}

}  // namespace
