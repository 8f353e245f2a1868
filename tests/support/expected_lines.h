#pragma once

// What the end-to-end tests expect of the program, written out literally, in one place.

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/host_process.h"

using Lines = std::vector<std::string>;

inline const std::string kBuild = "[win-helper] build v3-mingw-uuid-fix";
inline const std::string kUsage =
    "Usage: Quillmere.exe <pid> [duck_ratio] [include/exclude] (or Quillmere.exe --list-sessions)";
inline const std::string kAgileQuery =
    "[win-helper] QueryInterface IID: {94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90} (IAgileObject) -> hr=0";
inline const std::string kStarted = "[win-helper] Windows WASAPI process-excluded loopback capture started.";
inline const std::string kFloat48k = "[win-helper] Format: 48000Hz, 2 channels, 32 bits, float";
inline const std::string kPcm44k = "[win-helper] Format: 44100Hz, 2 channels, 16 bits, integer";
inline const std::string kStopLine = "[win-helper] Received exit command via stdin. Stopping capture gracefully...";
inline const std::string kReaderStopped = "[win-helper] Stdin duck ratio reader stopped.";
inline const std::string kRestoring = "[win-helper] Restoring audio session volumes...";

// A script line for the double: the first GetNextPacketSize fails, so a capture that starts
// ends at once, in order.
inline const std::string kFirstPollFails = "packet_size_fail 0x80004005 1\n";
inline const std::string kFirstPollFailedLine = "[win-helper] GetNextPacketSize failed: -2147467259";

inline std::string pidText(DWORD pid) {
    return std::to_string(pid);
}

// The lines from the build line to the activation call.
inline Lines activationLines(const std::string& pid = "1234", bool include = false) {
    return {kBuild, "[win-helper] CoCreateFreeThreadedMarshaler returned: 0",
            "[win-helper] Calling ActivateAudioInterfaceAsync...",
            std::string(include ? "[win-helper] Including PID: " : "[win-helper] Excluding PID: ") + pid,
            "[win-helper] Params size: 12"};
}

inline Lines concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// How a run ended, as the host saw it.
struct Finished {
    DWORD exitCode;
    Lines lines;
    std::string output;
};

// Runs to the end with stdin held open, so the reader never logs its closing line.
inline Finished runToEnd(const std::vector<std::string>& args) {
    HostProcess host{HostProcess::Options(args)};
    const DWORD code = host.waitForExit();
    return {code, host.logLines(), host.output()};
}
