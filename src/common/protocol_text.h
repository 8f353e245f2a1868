#pragma once

// The fixed texts of the host protocol. Hosts match them byte for byte, so each stays exactly
// as it is, quirks included; the note above each quirk says why it stays.
//
// Line ends: the program writes LF. On Windows standard error, and standard output in the
// listings, stay in the C runtime's text mode, which writes each LF as CR LF; hosts split lines
// at CR LF. (The capture stream switches standard output to binary mode before its first byte.)

// The first line of every run. Hosts tell the protocol they talk to by this exact text, so the
// build name is frozen rather than a version number.
inline constexpr char kBuildLine[] = "[win-helper] build v3-mingw-uuid-fix";

// Names only the first listing option: hosts show this line to their users as it is.
// --list-apps is accepted all the same.
inline constexpr char kUsageLine[] =
    "Usage: Quillmere.exe <pid> [duck_ratio] [include/exclude] (or Quillmere.exe --list-sessions)";

// The start lines say "excluded" in include mode too: hosts wait for these exact lines before
// they read audio, and the activation's own line already names the mode.
inline constexpr char kCaptureStartedLine[] = "[win-helper] Windows WASAPI process-excluded loopback capture started.";
inline constexpr char kTargetPidLinePrefix[] = "[win-helper] Excluding PID: ";

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

// The steady stream's (--clock=steady) drift correction: the prefix, the milliseconds as a signed
// decimal (20 when silence went in, -20 when audio was dropped), the suffix.
inline constexpr char kClockAdjustedPrefix[] = "[win-helper] Stream clock adjusted by ";
inline constexpr char kClockAdjustedSuffix[] = " ms";
