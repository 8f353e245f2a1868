#include "capture/sink_recording.h"

SinkRecording sinkRecording(const SinkStreams& streams) {
    if (streams.recorded == 0) {
        return SinkRecording::Nothing;
    }
    return streams.excluded == 0 && streams.fullVolume ? SinkRecording::Monitor : SinkRecording::EachStream;
}
