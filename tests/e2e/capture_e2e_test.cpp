// The program as a host sees it: real Quillmere.exe under Wine, the audio engine double
// beside it, exact stderr lines, exact stdout bytes, exit codes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/host_process.h"
#include "test_signal.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kBuild = "[win-helper] build v3-mingw-uuid-fix";
const std::string kUsage =
    "Usage: Quillmere.exe <pid> [duck_ratio] [include/exclude] (or Quillmere.exe --list-sessions)";
const std::string kAgileQuery =
    "[win-helper] QueryInterface IID: {94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90} (IAgileObject) -> hr=0";
const std::string kStarted = "[win-helper] Windows WASAPI process-excluded loopback capture started.";
const std::string kFloat48k = "[win-helper] Format: 48000Hz, 2 channels, 32 bits, float";
const std::string kPcm44k = "[win-helper] Format: 44100Hz, 2 channels, 16 bits, integer";
const std::string kFirstPollFails = "packet_size_fail 0x80004005 1\n";
const std::string kFirstPollFailedLine = "[win-helper] GetNextPacketSize failed: -2147467259";
const std::string kStopLine = "[win-helper] Received exit command via stdin. Stopping capture gracefully...";
const std::string kReaderStopped = "[win-helper] Stdin duck ratio reader stopped.";
const std::string kRestoring = "[win-helper] Restoring audio session volumes...";
// The PCM fallback as Initialize receives it: tag 1, 2 channels, 44100, 176400, 4, 16, cbSize 0.
const std::string kPcm44kBytes = "0100020044ac000010b10200040010000000";

Lines activationLines(const std::string& pid = "1234", bool include = false) {
    return {kBuild, "[win-helper] CoCreateFreeThreadedMarshaler returned: 0",
            "[win-helper] Calling ActivateAudioInterfaceAsync...",
            std::string(include ? "[win-helper] Including PID: " : "[win-helper] Excluding PID: ") + pid,
            "[win-helper] Params size: 12"};
}

Lines concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct Finished {
    DWORD exitCode;
    Lines lines;
    std::string output;
};

// Runs to the end with stdin held open, so the reader never logs its closing line.
Finished runToEnd(const std::vector<std::string>& args) {
    HostProcess host{HostProcess::Options(args)};
    const DWORD code = host.waitForExit();
    return {code, host.logLines(), host.output()};
}

TEST(CommandLineEndToEnd, UsageErrorsExitWithOne) {
    const std::vector<std::vector<std::string>> cases = {{}, {"0"}, {"abc"}, {"--help"}, {""}, {"--LIST-SESSIONS"}};
    for (const auto& args : cases) {
        AudioEngineDouble engine("");
        const Finished run = runToEnd(args);
        EXPECT_EQ(run.exitCode, 1u) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(run.lines, (Lines{kBuild, kUsage})) << (args.empty() ? "(none)" : args[0]);
        EXPECT_TRUE(run.output.empty());
        EXPECT_TRUE(engine.recorded().empty()) << "nothing is activated";
    }
}

TEST(CommandLineEndToEnd, PidIsReadAsAtolReadsIt) {
    struct Case {
        std::string arg;
        std::string logged;
        std::string blobPid;
    };
    const Case cases[] = {{"1234abc", "1234", "d2040000"}, {" 42", "42", "2a000000"}, {"-5", "4294967291", "fbffffff"}};
    for (const auto& c : cases) {
        AudioEngineDouble engine("completion 0x80070002\n");
        const Finished run = runToEnd({c.arg});
        EXPECT_EQ(run.exitCode, 1u) << c.arg;
        EXPECT_EQ(run.lines,
                  concat({activationLines(c.logged), {kAgileQuery, "Activation completed with error: -2147024894"}}))
            << c.arg;
        EXPECT_EQ(engine.recorded("activate"),
                  Lines{"activate path=VAD\\Process_Loopback iid={1CB9AD4C-DBFA-4C32-B178-C2F568A703B2} vt=65 "
                        "size=12 blob=01000000" +
                        c.blobPid + "01000000"})
            << c.arg;
    }
}

TEST(CommandLineEndToEnd, ModeWordSelectsTheLoopbackModeInTheBlob) {
    struct Case {
        std::vector<std::string> args;
        bool include;
        std::string mode;
    };
    const Case cases[] = {{{"1234", "0.2", "include"}, true, "00000000"},
                          {{"1234", "0.2", "INCLUDE"}, false, "01000000"},
                          {{"1234", "0.2", "include "}, false, "01000000"},
                          {{"1234", "0.2", "exclude"}, false, "01000000"},
                          {{"1234"}, false, "01000000"}};
    for (const auto& c : cases) {
        AudioEngineDouble engine("completion 0x80070002\n");
        const Finished run = runToEnd(c.args);
        EXPECT_EQ(run.lines, concat({activationLines("1234", c.include),
                                     {kAgileQuery, "Activation completed with error: -2147024894"}}));
        const Lines activations = engine.recorded("activate");
        ASSERT_EQ(activations.size(), 1u);
        EXPECT_EQ(activations[0].substr(activations[0].size() - 8), c.mode);
    }
}

TEST(CommandLineEndToEnd, NotANumberRatioArgumentIsIgnoredWithALine) {
    AudioEngineDouble engine("completion 0x80070002\n");
    const Finished run = runToEnd({"1234", "nan"});
    ASSERT_GE(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0], kBuild);
    EXPECT_EQ(run.lines[1], "[win-helper] Ignoring invalid duck ratio argument: nan");
}

TEST(ActivationEndToEnd, EveryFailureEndsWithItsLinesAndExitOne) {
    struct Case {
        const char* name;
        std::string script;
        Lines after;  // the lines after the activation lines
        int activateCalls;
    };
    const Case cases[] = {
        {"call fails",
         "activate 0x80004005\n",
         {"[win-helper] ActivateAudioInterfaceAsync failed (hr=-2147467259).",
          "[win-helper] Activation failed permanently: -2147467259"},
         1},
        {"illegal method call, retry fails",
         "activate 0x8000000E\nactivate_retry 0x80070005\n",
         {"[win-helper] ActivateAudioInterfaceAsync failed (hr=-2147483634).",
          "[win-helper] Attempting WinRT initialization (RoInitialize) fallback...",
          "[win-helper] RoInitialize returned: 1", "[win-helper] Retrying ActivateAudioInterfaceAsync...",
          "[win-helper] Activation failed permanently: -2147024891"},
         2},
        {"illegal method call, retry completes with error",
         "activate 0x8000000E\ncompletion 0x80070002\n",
         {"[win-helper] ActivateAudioInterfaceAsync failed (hr=-2147483634).",
          "[win-helper] Attempting WinRT initialization (RoInitialize) fallback...",
          "[win-helper] RoInitialize returned: 1", "[win-helper] Retrying ActivateAudioInterfaceAsync...", kAgileQuery,
          "Activation completed with error: -2147024894"},
         2},
        {"completion error",
         "completion 0x80070002\n",
         {kAgileQuery, "Activation completed with error: -2147024894"},
         1},
        {"completion without a client", "completion_without_client\n", {kAgileQuery, "Failed to get IAudioClient"}, 1},
    };
    for (const auto& c : cases) {
        AudioEngineDouble engine(c.script);
        const Finished run = runToEnd({"1234"});
        EXPECT_EQ(run.exitCode, 1u) << c.name;
        EXPECT_EQ(run.lines, concat({activationLines(), c.after})) << c.name;
        EXPECT_EQ(engine.recorded("activate").size(), static_cast<std::size_t>(c.activateCalls)) << c.name;
        EXPECT_TRUE(engine.recorded("initialize").empty()) << c.name;
    }
}

// A folder of its own holding a copy of the program and, as Mmdevapi.dll, another file of
// the test folder.
std::string programBeside(const std::string& library) {
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    const std::string folder = std::string(directory) + "quillmere-bare";
    CreateDirectoryA(folder.c_str(), nullptr);
    CopyFileA((testBinDir() + "\\Quillmere.exe").c_str(), (folder + "\\Quillmere.exe").c_str(), FALSE);
    CopyFileA((testBinDir() + "\\" + library).c_str(), (folder + "\\Mmdevapi.dll").c_str(), FALSE);
    return folder + "\\Quillmere.exe";
}

TEST(ActivationEndToEnd, LibraryWithoutTheEntryPoint) {
    AudioEngineDouble engine("");
    // A module that exports nothing of the kind: the tree helper program.
    HostProcess host({{"1234"}, SIZE_MAX, programBeside("tree_helper.exe")});
    EXPECT_EQ(host.waitForExit(), 1u);
    EXPECT_EQ(host.logLines(), (Lines{kBuild, "Failed to find ActivateAudioInterfaceAsync in Mmdevapi.dll"}));
}

TEST(FormatNegotiationEndToEnd, FallbacksLogTheirLinesAndInitializeWithTheChosenFormat) {
    const std::string virtualFailed =
        "[win-helper] GetMixFormat on virtual device failed (hr=-2147467263). Trying to retrieve system mix "
        "format from default render endpoint...";
    const std::string hardcoded = "[win-helper] Using hardcoded 32-bit float stereo 48kHz fallback format...";
    // The fixed WAVEFORMATEXTENSIBLE: 48 kHz stereo 32-bit float, front left and right.
    const std::string fixedFloatBytes =
        "feff020080bb000000dc05000800200016002000030000000300000000001000800000aa00389b71";
    struct Case {
        const char* name;
        std::string script;
        Lines negotiation;
        std::string formatLine;
        std::string initialized;  // the format bytes the (last) Initialize received
    };
    const Case cases[] = {
        {"mix format accepted",
         "mix_format float 44100 1 32\n",
         {},
         "[win-helper] Format: 44100Hz, 1 channels, 32 bits, float",
         "0300010044ac000010b10200040020000000"},
        {"default endpoint's format",
         "mix_format fail 0x80004001\ndefault_mix_format pcm 22050 1 16\n",
         {virtualFailed, "[win-helper] Successfully retrieved mix format from default render endpoint."},
         "[win-helper] Format: 22050Hz, 1 channels, 16 bits, integer",
         "010001002256000044ac000002001000"
         "0000"},
        {"no enumerator",
         "mix_format fail 0x80004001\nenumerator fail 0x80004005\n",
         {virtualFailed, "[win-helper] Failed to create device enumerator: -2147467259", hardcoded},
         kFloat48k,
         fixedFloatBytes},
        {"no default endpoint",
         "mix_format fail 0x80004001\ndefault_endpoint fail 0x80070490\n",
         {virtualFailed, "[win-helper] Failed to get default render endpoint: -2147023728", hardcoded},
         kFloat48k,
         fixedFloatBytes},
        {"default client not activated",
         "mix_format fail 0x80004001\ndefault_activate fail 0x88890004\n",
         {virtualFailed, "[win-helper] Failed to activate default client: -2004287484", hardcoded},
         kFloat48k,
         fixedFloatBytes},
        {"default client has no mix format",
         "mix_format fail 0x80004001\ndefault_mix_format fail 0x88890001\n",
         {virtualFailed, "[win-helper] GetMixFormat on default client failed: -2004287487", hardcoded},
         kFloat48k,
         fixedFloatBytes},
        {"primary initialize fails",
         "initialize 0x88890008\n",
         {"[win-helper] Primary Initialize failed (hr=-2004287480). Retrying with 16-bit PCM and Auto-Convert..."},
         kPcm44k,
         kPcm44kBytes},
    };
    for (const auto& c : cases) {
        AudioEngineDouble engine(c.script + kFirstPollFails);
        const Finished run = runToEnd({"1234"});
        EXPECT_EQ(run.exitCode, 0u) << c.name;
        EXPECT_EQ(
            run.lines,
            concat({activationLines(),
                    {kAgileQuery},
                    c.negotiation,
                    {kStarted, "[win-helper] Excluding PID: 1234", c.formatLine, kFirstPollFailedLine, kRestoring}}))
            << c.name;
        const Lines initializations = engine.recorded("initialize");
        ASSERT_FALSE(initializations.empty()) << c.name;
        EXPECT_EQ(initializations.back().substr(initializations.back().find("format=") + 7), c.initialized) << c.name;
    }
}

TEST(FormatNegotiationEndToEnd, InitializeFlagsForThePrimaryCallAndTheRetry) {
    AudioEngineDouble engine("initialize 0x88890008\ninitialize_retry 0x88890008\n");
    const Finished run = runToEnd({"1234"});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(
        run.lines,
        concat(
            {activationLines(),
             {kAgileQuery,
              "[win-helper] Primary Initialize failed (hr=-2004287480). Retrying with 16-bit PCM and Auto-Convert...",
              "[win-helper] IAudioClient::Initialize failed: -2004287480"}}));
    EXPECT_EQ(engine.recorded("initialize"),
              (Lines{"initialize share=0 flags=0x00020000 duration=0 period=0 session=null "
                     "format=feff020080bb000000dc05000800200016002000000000000300000000001000800000aa00389b71",
                     "initialize share=0 flags=0x88020000 duration=0 period=0 session=null format=" + kPcm44kBytes}));
    EXPECT_TRUE(engine.recorded("get_service").empty());
    EXPECT_EQ(engine.recorded("audio_client_released").size(), 1u);
}

TEST(FormatNegotiationEndToEnd, GetServiceAndStartFailuresExitWithOne) {
    struct Case {
        const char* name;
        std::string script;
        std::string line;
    };
    const Case cases[] = {
        {"get service", "get_service 0x80004002\n", "GetService(IAudioCaptureClient) failed: -2147467262"},
        {"start", "start 0x88890002\n", "IAudioClient::Start failed: -2004287486"},
    };
    for (const auto& c : cases) {
        AudioEngineDouble engine(c.script);
        const Finished run = runToEnd({"1234"});
        EXPECT_EQ(run.exitCode, 1u) << c.name;
        EXPECT_EQ(run.lines, concat({activationLines(), {kAgileQuery, c.line}})) << c.name;
        EXPECT_EQ(engine.recorded("audio_client_released").size(), 1u) << c.name;
        EXPECT_TRUE(engine.recorded("stop").empty()) << c.name;
    }
}

// The end of a run as the double saw it: the restoration's look for the default device, then
// the client stopped and both clients released, in that order.
const Lines kShutdownRecord = {"get_default_endpoint flow=0 role=0", "stop", "capture_client_released",
                               "audio_client_released"};

Lines shutdownRecord(const AudioEngineDouble& engine) {
    Lines kept;
    for (const auto& line : engine.recorded()) {
        if (line.rfind("get_default_endpoint", 0) == 0 || line == "stop" ||
            line.find("client_released") != std::string::npos) {
            kept.push_back(line);
        }
    }
    return kept;
}

TEST(CaptureLoopEndToEnd, CaptureFailuresEndInOrderWithExitZero) {
    struct Case {
        const char* name;
        std::string script;
        std::string line;
        Lines releases;
    };
    const Case cases[] = {
        {"first poll", kFirstPollFails, kFirstPollFailedLine, {}},
        {"poll while draining",
         "packet 480\npacket 480\npacket_size_fail 0x80004005 3\n",
         "[win-helper] GetNextPacketSize failed in loop: -2147467259",
         {"release_buffer 480", "release_buffer 480"}},
        {"get buffer",
         "packet 480\npacket 480\nget_buffer_fail 0x88890006 2\n",
         "[win-helper] GetBuffer failed: -2004287482",
         {"release_buffer 480"}},
    };
    for (const auto& c : cases) {
        AudioEngineDouble engine(c.script);
        const Finished run = runToEnd({"1234"});
        EXPECT_EQ(run.exitCode, 0u) << c.name;
        EXPECT_EQ(run.lines,
                  concat({activationLines(),
                          {kAgileQuery, kStarted, "[win-helper] Excluding PID: 1234", kFloat48k, c.line, kRestoring}}))
            << c.name;
        EXPECT_EQ(engine.recorded("release_buffer"), c.releases) << c.name;
        const Lines recorded = shutdownRecord(engine);
        ASSERT_GE(recorded.size(), kShutdownRecord.size());
        EXPECT_EQ(Lines(recorded.end() - 4, recorded.end()), kShutdownRecord) << c.name;
    }
}

// What the host must receive for a stream: the stream rules written out plainly,
// one frame at a time, without the program's converter.
std::string expectedStream(const std::vector<std::vector<float>>& packetsOfMono, double rate) {
    std::string bytes;
    const double step = rate / 16000.0;
    double position = 0.0;
    for (const auto& mono : packetsOfMono) {
        const double frames = static_cast<double>(mono.size());
        while (frames > position) {
            const auto i = static_cast<std::size_t>(position);
            const std::size_t next = i + 1 < mono.size() ? i + 1 : i;
            const float f = static_cast<float>(position - static_cast<double>(i));
            float v = (1.0f - f) * mono[i] + f * mono[next];
            v = v < -1.0f ? -1.0f : (v > 1.0f ? 1.0f : v);
            const auto s = static_cast<std::int32_t>(v * 32767.0f);
            bytes.push_back(static_cast<char>(s & 0xFF));
            bytes.push_back(static_cast<char>((s >> 8) & 0xFF));
            position += step;
        }
        position = position - frames > 0.0 ? position - frames : 0.0;
    }
    return bytes;
}

TEST(OutputStreamEndToEnd, FloatToneAt48kHzInEvenPackets) {
    std::string script = "mix_format ext-float 48000 2 32\n";
    std::vector<std::vector<float>> mono;
    std::uint64_t n = 0;
    for (int packet = 0; packet < 10; ++packet) {
        script += "packet 480 tone 440 0.8\n";
        std::vector<float> frames;
        for (int j = 0; j < 480; ++j) {
            // Both channels carry the same float, so their average is that float.
            frames.push_back(static_cast<float>(test_signal::toneValue(440, 0.8, 48000, n++)));
        }
        mono.push_back(frames);
    }
    AudioEngineDouble engine(script + "packet_size_fail 0x80004005 12\n");
    const Finished run = runToEnd({"1234"});
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.output.size(), 3200u);
    EXPECT_EQ(run.output, expectedStream(mono, 48000));
    // A 440 Hz tone at 0.8 reaches 0.8 * 32767 at its peak.
    std::int16_t peak = 0;
    for (std::size_t i = 0; i < run.output.size(); i += 2) {
        std::int16_t s;
        std::memcpy(&s, run.output.data() + i, 2);
        peak = std::max(peak, s);
    }
    EXPECT_NEAR(peak, 26213, 30);
}

TEST(OutputStreamEndToEnd, SixteenBitToneAt44100InUnevenPackets) {
    const std::vector<std::uint32_t> sizes = {441, 100, 333, 7, 1000, 1, 2, 441, 17};
    std::string script = "mix_format pcm 44100 2 16\n";
    std::vector<std::vector<float>> mono;
    std::uint64_t n = 0;
    for (std::uint32_t size : sizes) {
        script += "packet " + std::to_string(size) + " tone 1000 0.5\n";
        std::vector<float> frames;
        for (std::uint32_t j = 0; j < size; ++j) {
            std::vector<std::uint8_t> sample;
            test_signal::appendSample(sample, test_signal::toneValue(1000, 0.5, 44100, n++), 16, false);
            const auto value = static_cast<std::int16_t>(sample[0] | (sample[1] << 8));
            const float contribution = static_cast<float>(value) * 3.0517578125e-05f;
            frames.push_back((contribution + contribution) / 2.0f);
        }
        mono.push_back(frames);
    }
    AudioEngineDouble engine(script + "packet_size_fail 0x80004005 " + std::to_string(sizes.size() + 2) + "\n");
    const Finished run = runToEnd({"1234"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.lines.back(), kRestoring);
    EXPECT_EQ(run.output.size(), 2u * 850u);
    EXPECT_EQ(run.output, expectedStream(mono, 44100));
}

TEST(OutputStreamEndToEnd, SilentPacketsAreZerosAndEmptyPacketsAreReleasedWithZero) {
    AudioEngineDouble engine(
        "packet 480 silent 7\npacket 5 empty\npacket 3 samples 0.5 0.5\npacket_size_fail 0x80004005 5\n");
    const Finished run = runToEnd({"1234"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, std::string(320, '\0') + std::string("\xff\x3f", 2));
    EXPECT_EQ(engine.recorded("release_buffer"), (Lines{"release_buffer 480", "release_buffer 0", "release_buffer 3"}));
}

// The lines after the stop command's line. The detached reader may still write its closing
// line before the process ends, or not: nothing waits for it.
Lines afterStop(const Lines& lines) {
    auto stop = std::find(lines.begin(), lines.end(), kStopLine);
    if (stop == lines.end()) {
        return {"(no stop line)"};
    }
    Lines after(stop + 1, lines.end());
    after.erase(std::remove(after.begin(), after.end(), kReaderStopped), after.end());
    return after;
}

TEST(StdinEndToEnd, StopWordsEndTheCaptureWithExitZero) {
    for (const char* input : {"exit\n", "quit\r\n", "stop", "0.5\nstop\n"}) {
        AudioEngineDouble engine("");
        HostProcess host({{"1234"}});
        ASSERT_TRUE(host.waitForLog(kFloat48k)) << input;
        host.write(input);
        if (std::strchr(input, '\n') == nullptr) {
            host.closeInput();  // a stop as the last, unterminated bytes
        }
        EXPECT_EQ(host.waitForExit(), 0u) << input;
        EXPECT_EQ(afterStop(host.logLines()), Lines{kRestoring}) << input;
        EXPECT_EQ(engine.recorded("stop").size(), 1u) << input;
    }
}

TEST(StdinEndToEnd, RatioLinesAreAcceptedOrRefusedAndLongLinesAreCut) {
    AudioEngineDouble engine("");
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kFloat48k));
    const std::string longLine = "0." + std::string(98, '5');
    host.write("0.5\n1.5\n-0.1\n" + longLine + "\nEXIT\n");
    ASSERT_TRUE(host.waitForLog("updated to 0\r\n"));
    host.write("exit\n");
    EXPECT_EQ(host.waitForExit(), 0u);
    const Lines lines = host.logLines();
    const auto first = std::find(lines.begin(), lines.end(), kFloat48k) + 1;
    ASSERT_GE(lines.end() - first, 6);
    EXPECT_EQ(Lines(first, first + 6), (Lines{"[win-helper] Real-time duck ratio updated to 0.5",
                                              "[win-helper] Ignoring invalid duck ratio command: 1.5",
                                              "[win-helper] Ignoring invalid duck ratio command: -0.1",
                                              "[win-helper] Real-time duck ratio updated to 0.555556",
                                              "[win-helper] Real-time duck ratio updated to 0", kStopLine}));
    EXPECT_EQ(afterStop(lines), Lines{kRestoring});
}

TEST(StdinEndToEnd, EndOfInputIsNoStop) {
    AudioEngineDouble engine("");
    HostProcess host({{"1234"}});
    ASSERT_TRUE(host.waitForLog(kFloat48k));
    host.closeInput();
    ASSERT_TRUE(host.waitForLog(kReaderStopped));
    Sleep(200);
    EXPECT_TRUE(engine.recorded("stop").empty()) << "the capture goes on";
}

TEST(OutputStreamEndToEnd, HostClosingStdoutEndsTheRunInOrder) {
    AudioEngineDouble engine("packet 480 tone 440 0.5\nrepeat\n");
    HostProcess host({{"1234"}, 3200});
    EXPECT_EQ(host.waitForExit(), 0u);
    const Lines lines = host.logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
              (Lines{"[win-helper] Write to stdout failed (pipe closed)", kRestoring}));
    const Lines recorded = shutdownRecord(engine);
    ASSERT_GE(recorded.size(), 4u);
    EXPECT_EQ(Lines(recorded.end() - 4, recorded.end()), kShutdownRecord);
    const Lines all = engine.recorded();
    const auto stop = std::find(all.begin(), all.end(), "stop");
    ASSERT_NE(stop, all.end());
    EXPECT_EQ(std::count(all.begin(), stop, "release_buffer 480"),
              static_cast<long>(engine.recorded("release_buffer").size()))
        << "every packet, the one whose write failed too, is released before the client stops";
    EXPECT_GE(engine.recorded("release_buffer").size(), 11u) << "3200 bytes were read before the pipe closed";
}

}  // namespace
