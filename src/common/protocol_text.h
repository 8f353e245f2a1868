#pragma once

// The fixed texts of the host protocol. Hosts match them byte for byte, so each stays exactly
// as it is, quirks included; the note above each quirk says why it stays.
//
// Line ends: the program writes LF. On Windows standard error, and standard output in the
// listings, stay in the C runtime's text mode, which writes each LF as CR LF; hosts split lines
// at CR LF. (The capture stream switches standard output to binary mode before its first byte.)
//
// A line that ends in one value is its text and that value; a line with values inside it is
// built here, each value written as LogLine writes it (integers in decimal, floats as %g).

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/log.h"
#include "common/text.h"

// The pieces of a line, in order.
inline std::string lineFrom(std::initializer_list<std::string_view> pieces) {
    std::string line;
    for (const std::string_view piece : pieces) {
        line.append(piece);
    }
    return line;
}

// The first line of every run. Hosts tell the protocol they talk to by this exact text, so the
// build name is frozen rather than a version number.
inline constexpr char kBuildLine[] = "[win-helper] build v3-mingw-uuid-fix";

// Names only the first listing option: hosts show this line to their users as it is.
// --list-apps is accepted all the same.
inline constexpr char kUsageLine[] =
    "Usage: Quillmere.exe <pid> [duck_ratio] [include/exclude] (or Quillmere.exe --list-sessions)";
// The Linux program's usage line names itself.
inline constexpr char kLinuxUsageLine[] =
    "Usage: quillmere <pid> [duck_ratio] [include/exclude] (or quillmere --list-sessions)";

// The command line's words that are no capture argument.
inline constexpr char kRatioArgumentRefusedPrefix[] = "[win-helper] Ignoring invalid duck ratio argument: ";
inline constexpr char kUnknownOptionPrefix[] = "[win-helper] Ignoring unknown option: ";

// Activation: the mode and the target (Windows writes it as it activates; Linux as it connects).
inline constexpr char kIncludingPidPrefix[] = "[win-helper] Including PID: ";
inline constexpr char kExcludingPidPrefix[] = "[win-helper] Excluding PID: ";
inline std::string activationLine(bool includeMode, std::uint32_t pid) {
    return lineFrom({includeMode ? kIncludingPidPrefix : kExcludingPidPrefix, std::to_string(pid)});
}

// The start lines say "excluded" in include mode too: hosts wait for these exact lines before
// they read audio, and the activation's own line already names the mode.
inline constexpr char kCaptureStartedLine[] = "[win-helper] Windows WASAPI process-excluded loopback capture started.";
inline constexpr const char* kTargetPidLinePrefix = kExcludingPidPrefix;
// The format the capture reads, the last of the start lines:
//   [win-helper] Format: 48000Hz, 2 channels, 32 bits, float
inline std::string formatLine(std::uint32_t sampleRate, unsigned channels, unsigned bitsPerSample, bool isFloat) {
    return lineFrom({"[win-helper] Format: ", std::to_string(sampleRate), "Hz, ", std::to_string(channels),
                     " channels, ", std::to_string(bitsPerSample), " bits, ", isFloat ? "float" : "integer"});
}

// Failure lines without the "[win-helper] " tag: hosts have matched them untagged from the
// start, so the tag is not added.
inline constexpr char kCoInitializeFailedPrefix[] = "CoInitializeEx failed: ";
inline constexpr char kMmdevapiNotLoadedLine[] = "Failed to load Mmdevapi.dll";
inline constexpr char kEntryPointMissingLine[] = "Failed to find ActivateAudioInterfaceAsync in Mmdevapi.dll";
inline constexpr char kCreateEventFailedLine[] = "CreateEvent failed";
inline constexpr char kActivationErrorPrefix[] = "Activation completed with error: ";
inline constexpr char kNoAudioClientLine[] = "Failed to get IAudioClient";
inline constexpr char kGetServiceFailedPrefix[] = "GetService(IAudioCaptureClient) failed: ";
inline constexpr char kStartFailedPrefix[] = "IAudioClient::Start failed: ";

// Ducking: what the engine does to other applications' sessions, named by their labels. A session
// is lowered the first time ("Ducking session"), and set anew when the ratio changes ("Updating").
//   [win-helper] Ducking session player.exe (pid 20): 0.8 -> 0.16
inline std::string duckedLine(bool lowering, std::string_view label, float before, float after) {
    return lineFrom({lowering ? "[win-helper] Ducking session " : "[win-helper] Updating ducking session ", label, ": ",
                     formatDefaultFloat(before), " -> ", formatDefaultFloat(after)});
}
// Failures name the platform's error in decimal, an HRESULT signed:
//   [win-helper] Failed to duck session player.exe (pid 20) hr=-2147024891
inline std::string duckFailedLine(bool lowering, std::string_view label, std::int64_t error) {
    return lineFrom(
        {lowering ? "[win-helper] Failed to duck session " : "[win-helper] Failed to update ducked session ", label,
         " hr=", std::to_string(error)});
}
inline std::string volumeAccessFailedLine(std::string_view label, std::int64_t error) {
    return lineFrom({"[win-helper] Failed to access session volume for ", label, " hr=", std::to_string(error)});
}
inline std::string volumeReadFailedLine(std::string_view label, std::int64_t error) {
    return lineFrom({"[win-helper] Failed to read session volume for ", label, " hr=", std::to_string(error)});
}
inline constexpr char kRestoringLine[] = "[win-helper] Restoring audio session volumes...";
inline constexpr char kRestoredPrefix[] = "[win-helper] Restored session volume to: ";
inline constexpr char kRestoreFailedPrefix[] = "[win-helper] Failed to restore session volume hr=";
inline constexpr char kRecoveredPrefix[] = "[win-helper] Restored session volume left lowered by an earlier run to: ";
// A journal that cannot be read at all, by its path; or one line of it, by its number.
inline std::string journalUnreadableLine(std::string_view path) {
    return lineFrom({"[win-helper] Ignoring unreadable ducking journal: ", path});
}
inline std::string journalUnreadableLine(std::string_view path, std::size_t line) {
    return lineFrom({journalUnreadableLine(path), " line ", std::to_string(line)});
}
// The error is the platform's (errno, or GetLastError), in decimal.
inline std::string journalWriteFailedLine(std::string_view path, std::uint64_t error) {
    return lineFrom({"[win-helper] Failed to write ducking journal: ", path, " error=", std::to_string(error)});
}
inline constexpr char kJournalFolderNotOwnedPrefix[] =
    "[win-helper] Ignoring ducking journal folder owned by another user: ";

// Process-loopback activation and format negotiation (Windows), in the order they can come.
inline constexpr char kRoInitializeAttemptLine[] =
    "[win-helper] Attempting WinRT initialization (RoInitialize) fallback...";
inline constexpr char kRoInitializeResultPrefix[] = "[win-helper] RoInitialize returned: ";
inline constexpr char kActivationRetryLine[] = "[win-helper] Retrying ActivateAudioInterfaceAsync...";
// The completion handler's every QueryInterface: the IID as {XXXXXXXX-...}, the interface's name.
//   [win-helper] QueryInterface IID: {94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90} (IAgileObject) -> hr=0
inline std::string queryInterfaceLine(std::string_view iid, std::string_view interfaceName, std::int64_t hr) {
    return lineFrom({"[win-helper] QueryInterface IID: ", iid, " (", interfaceName, ") -> hr=", std::to_string(hr)});
}
inline constexpr char kMarshalerResultPrefix[] = "[win-helper] CoCreateFreeThreadedMarshaler returned: ";
inline constexpr char kActivationCallLine[] = "[win-helper] Calling ActivateAudioInterfaceAsync...";
inline constexpr char kParamsSizePrefix[] = "[win-helper] Params size: ";
inline std::string activationFailedLine(std::int64_t hr) {
    return lineFrom({"[win-helper] ActivateAudioInterfaceAsync failed (hr=", std::to_string(hr), ")."});
}
inline constexpr char kActivationFailedForGoodPrefix[] = "[win-helper] Activation failed permanently: ";
inline constexpr char kActivationTimeoutLine[] = "[win-helper] ActivateAudioInterfaceAsync did not complete in time";
inline constexpr char kEnumeratorFailedPrefix[] = "[win-helper] Failed to create device enumerator: ";
inline constexpr char kDefaultEndpointFailedPrefix[] = "[win-helper] Failed to get default render endpoint: ";
inline constexpr char kDefaultClientFailedPrefix[] = "[win-helper] Failed to activate default client: ";
inline constexpr char kDefaultMixFormatFailedPrefix[] = "[win-helper] GetMixFormat on default client failed: ";
inline constexpr char kDefaultMixFormatLine[] =
    "[win-helper] Successfully retrieved mix format from default render endpoint.";
inline std::string virtualMixFormatFailedLine(std::int64_t hr) {
    return lineFrom({"[win-helper] GetMixFormat on virtual device failed (hr=", std::to_string(hr),
                     "). Trying to retrieve system mix format from default render endpoint..."});
}
inline constexpr char kFallbackFormatLine[] =
    "[win-helper] Using hardcoded 32-bit float stereo 48kHz fallback format...";
inline std::string primaryInitializeFailedLine(std::int64_t hr) {
    return lineFrom({"[win-helper] Primary Initialize failed (hr=", std::to_string(hr),
                     "). Retrying with 16-bit PCM and Auto-Convert..."});
}
inline constexpr char kInitializeFailedPrefix[] = "[win-helper] IAudioClient::Initialize failed: ";

// The sound server (Linux).
inline constexpr char kServerUnreachablePrefix[] = "[win-helper] Failed to connect to the sound server: ";
inline constexpr char kNoDefaultSinkLine[] = "[win-helper] The sound server has no default sink";
// A server that goes away during the capture, by libpulse's reason; the connection made again;
// and no server within the time allowed, which ends the capture.
inline constexpr char kServerLostPrefix[] = "[win-helper] Lost the sound server: ";
inline constexpr char kServerReconnectedLine[] = "[win-helper] Reconnected to the sound server";
inline constexpr char kServerNotBackLine[] = "[win-helper] Failed to reconnect to the sound server";

// How the capture goes (--status): the target missing at the start, or gone with its whole tree;
// a capture that hears nothing while what it records plays, and its end; audio lost on its way
// to the host, in whole milliseconds.
inline constexpr char kTargetNotFoundPrefix[] = "[win-helper] Target process not found: ";
inline constexpr char kTargetTreeEndedPrefix[] = "[win-helper] Target process tree ended: ";
inline constexpr char kCaptureSilentLine[] = "[win-helper] Capture silent while its sessions play";
inline constexpr char kCaptureNotSilentLine[] = "[win-helper] Capture no longer silent";
inline std::string audioLostLine(std::uint64_t milliseconds) {
    return lineFrom({"[win-helper] Audio lost: ", std::to_string(milliseconds), " ms"});
}

// The capture loop's ends.
inline constexpr char kStdoutClosedLine[] = "[win-helper] Write to stdout failed (pipe closed)";
inline constexpr char kPacketSizeFailedPrefix[] = "[win-helper] GetNextPacketSize failed: ";
inline constexpr char kPacketSizeFailedInLoopPrefix[] = "[win-helper] GetNextPacketSize failed in loop: ";
inline constexpr char kGetBufferFailedPrefix[] = "[win-helper] GetBuffer failed: ";
inline constexpr char kHostEndedLine[] = "[win-helper] Host process ended; stopping capture.";

// Standard input: each command is logged before it takes effect.
inline constexpr char kStdinExitLine[] = "[win-helper] Received exit command via stdin. Stopping capture gracefully...";
inline constexpr char kRatioUpdatedPrefix[] = "[win-helper] Real-time duck ratio updated to ";
inline constexpr char kRatioCommandRefusedPrefix[] = "[win-helper] Ignoring invalid duck ratio command: ";
inline constexpr char kStdinReaderStoppedLine[] = "[win-helper] Stdin duck ratio reader stopped.";
inline constexpr char kNoStdinLine[] = "[win-helper] No stdin handle available for live ducking updates.";

// Signals: a console control event (Windows), SIGINT, SIGTERM or SIGHUP (Linux).
inline constexpr char kConsoleSignalPrefix[] = "[win-helper] Received console control signal: ";
// A stop signal, by its abbreviation (TERM):
//   [win-helper] Received signal: SIGTERM
inline std::string receivedSignalLine(std::string_view abbreviation) {
    return lineFrom({"[win-helper] Received signal: SIG", abbreviation});
}

// Workers that could not be started.
inline constexpr char kStdinReaderNotStartedPrefix[] = "[win-helper] Failed to start the stdin reader thread: ";
inline constexpr char kDuckingThreadNotStartedPrefix[] = "[win-helper] Failed to start the ducking thread: ";
inline constexpr char kGuardianNotStartedPrefix[] = "[win-helper] Failed to start the volume guardian: error ";
inline constexpr char kHostWatchNotStartedPrefix[] = "[win-helper] Failed to start the host watch thread: ";
inline constexpr char kSignalThreadNotStartedPrefix[] = "[win-helper] Failed to start the signal thread: ";

// --list-sessions diagnostics (Windows), in the order they can come. Devices and sessions go by
// their indexes; a failed call's HRESULT is written as its 32 bits in lower-case hexadecimal:
//   [win-helper] Device 2 Activate IAudioSessionManager2 failed: 0x88890004
inline std::string listingCode(std::int64_t hr) {
    return formatLowerHex(static_cast<std::uint32_t>(hr));
}
inline std::string listingEnumFailedLine(std::int64_t hr) {
    return lineFrom({"[win-helper] EnumAudioEndpoints failed: 0x", listingCode(hr)});
}
inline constexpr char kListingDeviceCountPrefix[] = "[win-helper] Active playback devices found: ";
inline std::string listingItemFailedLine(std::uint32_t device, std::int64_t hr) {
    return lineFrom({"[win-helper] Item(", std::to_string(device), ") failed: 0x", listingCode(hr)});
}
inline std::string listingSessionManagerFailedLine(std::uint32_t device, std::int64_t hr) {
    return lineFrom({"[win-helper] Device ", std::to_string(device), " Activate IAudioSessionManager2 failed: 0x",
                     listingCode(hr)});
}
inline std::string listingSessionEnumeratorFailedLine(std::uint32_t device, std::int64_t hr) {
    return lineFrom(
        {"[win-helper] Device ", std::to_string(device), " GetSessionEnumerator failed: 0x", listingCode(hr)});
}
inline std::string listingSessionCountLine(std::uint32_t device, int count) {
    return lineFrom({"[win-helper] Device ", std::to_string(device), " sessionCount: ", std::to_string(count)});
}
inline std::string listingGetSessionFailedLine(std::uint32_t device, int session, std::int64_t hr) {
    return lineFrom({"[win-helper] Device ", std::to_string(device), " GetSession(", std::to_string(session),
                     ") failed: 0x", listingCode(hr)});
}
inline std::string listingSessionQueryFailedLine(std::uint32_t device, int session, std::int64_t hr) {
    return lineFrom({"[win-helper] Device ", std::to_string(device), " Session ", std::to_string(session),
                     " QueryInterface IAudioSessionControl2 failed: 0x", listingCode(hr)});
}
// One session: its process id, the process table's name for it, its instance identifier (UTF-8).
// The names and identifiers are other processes' choice, written with their control bytes
// escaped (escapeControlBytes; Windows names hold none, so Windows lines read as they always did).
//   [win-helper] Session on dev 0: PID=0, Name='', InstanceID='{0.0.0.00000000}|%b{2}'
inline std::string listingSessionLine(std::uint32_t device, std::uint32_t pid, std::string_view name,
                                      std::string_view instanceId) {
    return lineFrom({"[win-helper] Session on dev ", std::to_string(device), ": PID=", std::to_string(pid), ", Name='",
                     escapeControlBytes(name), "', InstanceID='", escapeControlBytes(instanceId), "'"});
}
// Then, indented, how a session without a table name was named, and the process found by that name.
inline std::string listingParsedNameLine(std::string_view name) {
    return lineFrom({"[win-helper]   Parsed fallback Name='", escapeControlBytes(name), "' from InstanceID"});
}
inline std::string listingResolvedPidLine(std::uint32_t pid, std::uint32_t resolvedPid, std::string_view name) {
    return lineFrom({"[win-helper]   Resolved PID ", std::to_string(pid), " -> ", std::to_string(resolvedPid), " for '",
                     escapeControlBytes(name), "'"});
}

// --list-apps without an X display (Linux).
inline constexpr char kNoX11WaylandLine[] = "[win-helper] No X11 display (a Wayland-only session): no windows to list";
inline constexpr char kNoX11Line[] = "[win-helper] No X11 display: no windows to list";

// The steady stream's (--clock=steady) drift correction: the milliseconds as a signed decimal (20
// when silence went in, -20 when audio was dropped).
inline std::string clockAdjustedLine(int milliseconds) {
    return lineFrom({"[win-helper] Stream clock adjusted by ", std::to_string(milliseconds), " ms"});
}
