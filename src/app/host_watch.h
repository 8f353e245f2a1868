#pragma once

#include "common/run_state.h"

// When the process that started the program ends while standard output is a pipe, nobody reads
// the audio any more, yet without a packet no write fails. The watch ends the capture loop in
// order then, as a closed pipe would, with the line kHostEndedLine. A parent that is unknown or
// already gone at start (a program started from Linux under Wine has parent 0), or output that
// is no pipe, is not watched. One implementation per platform.
void startHostWatch(RunState& state);

// The watch's answer once the host has ended: the capture loop ends in order, with the line,
// unless it has ended already.
void stopForEndedHost(RunState& state);
