#pragma once

#include "app/capture_run.h"
#include "app/command_line.h"
#include "common/process_identity.h"

// What each platform's program brings to the one run below.
struct ProgramPlatform {
    // The stream clocks its command line offers.
    ClockOptions clocks;
    // The line for a command line that asks for nothing the program does (exit status 1).
    const char* usageLine;
    // The guardian's starter (--start-guardian), where the guardian is started through one; null
    // where it is not: that command line then gets the usage line.
    int (*startGuardianFor)(const ProcessIdentity& owner);
    // The capture platform for this command line; never destroyed, like the run.
    CapturePlatform& (*makeCapturePlatform)(const CommandLine& commandLine);
    // Once the run is stored: what the process needs before the run starts (the stop paths from
    // outside it, the platform's audio API); false, having said why, ends the program with 1.
    bool (*prepareRun)();
    // After the run: the program's exit status, from the run's.
    int (*finishRun)(CaptureRun& run, int status);
    // Before a listing: what the process needs so that a stop from outside ends it (on Linux,
    // the stop signals back at their default action); null where it needs nothing.
    void (*prepareListing)();
};

// The program from its command line, the same on every platform: the build line; then a
// listing (0) after the platform's preparation for it, the guardian or its starter (their own
// status), the usage line (1), or a capture: the platform's capture and the run on it, made once
// and never destroyed (a console handler or a signal thread may still be stopping the run while
// the process ends), the capture arguments taken into the run's state, the run stored for the
// stop paths from outside, the platform's preparation, the run, the platform's end. Returns the
// exit status.
int runProgram(int argc, const char* const* argv, const ProgramPlatform& platform);
