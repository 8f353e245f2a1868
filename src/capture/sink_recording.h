#pragma once

#include <cstddef>

// How the capture records the streams that play to one sink. The sink's monitor, one record
// stream for all of them, costs the server and the program about what one stream does; but it
// hears everything the sink plays, and the sink's own volume, so it serves only while nothing
// there must be left out and the sink plays at full volume. Otherwise each recorded stream gets
// a record stream of its own, isolated to it.
enum class SinkRecording {
    Nothing,     // no stream the capture takes plays there
    Monitor,     // the sink's monitor, once for all
    EachStream,  // a record stream for each stream taken
};

struct SinkStreams {
    std::size_t recorded = 0;  // streams there the capture takes
    // Streams there the capture must leave out, paused ones included (they may play again at any
    // moment). The program's own streams, which play silence, count in neither.
    std::size_t excluded = 0;
    bool fullVolume = false;  // the sink's volume is 100% on every channel, and it is not muted
};

SinkRecording sinkRecording(const SinkStreams& streams);
