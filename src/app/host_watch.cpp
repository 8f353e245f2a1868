#include "app/host_watch.h"

#include "common/log.h"
#include "common/protocol_text.h"

void stopForEndedHost(RunState& state) {
    if (state.loopActive.load()) {
        LogLine() << kHostEndedLine;
        state.endLoop();
    }
}
