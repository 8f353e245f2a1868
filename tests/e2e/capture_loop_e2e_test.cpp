// The capture loop and the output stream: exact stdout bytes against the stream rules written
// out plainly, the order of the end of a run, and the exit status.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_signal.h"

#include "support/audio_engine_double.h"
#include "support/expected_lines.h"
#include "support/host_process.h"
#include "support/tone_measure.h"

namespace {

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

// A 12 kHz tone at 48 kHz folds to 4 kHz when samples are picked without a low-pass filter.
TEST(OutputStreamEndToEnd, HighQualityKeepsAToneAboveTheBandOutOfIt) {
    AudioEngineDouble engine(
        "mix_format ext-float 48000 2 32\npacket 480 tone 12000 0.5\nrepeat\npacket_size_fail 0x80004005 101\n");
    // Relative to the tone's own level, on the second half of the one-second stream.
    const auto aliasDb = [](const std::string& output) {
        std::vector<float> samples;
        for (std::size_t i = 16000; i + 1 < output.size(); i += 2) {
            std::int16_t s;
            std::memcpy(&s, output.data() + i, 2);
            samples.push_back(static_cast<float>(s) / 32767.0f);
        }
        return 20.0 * std::log10(tone_measure::amplitudeAt(samples, 4000.0, 16000.0) / 0.5 + 1e-12);
    };

    const Finished high = runToEnd({"1234", "0.2", "--quality=high", "exclude"});
    EXPECT_EQ(high.exitCode, 0u);
    ASSERT_EQ(high.output.size(), 32000u);
    EXPECT_LT(aliasDb(high.output), -70.0);

    const Finished linear = runToEnd({"1234", "--quality=linear", "--loud"});
    EXPECT_EQ(linear.output, runToEnd({"1234"}).output) << "linear is the default stream";
    EXPECT_GT(aliasDb(linear.output), -3.0);
    ASSERT_GE(linear.lines.size(), 2u);
    EXPECT_EQ(linear.lines[1], "[win-helper] Ignoring unknown option: --loud");
}

TEST(OutputStreamEndToEnd, SilentPacketsAreZerosAndEmptyPacketsAreReleasedWithZero) {
    AudioEngineDouble engine(
        "packet 480 silent 7\npacket 5 empty\npacket 3 samples 0.5 0.5\npacket_size_fail 0x80004005 5\n");
    const Finished run = runToEnd({"1234"});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, std::string(320, '\0') + std::string("\xff\x3f", 2));
    EXPECT_EQ(engine.recorded("release_buffer"), (Lines{"release_buffer 480", "release_buffer 0", "release_buffer 3"}));
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

// The stream as runs of equal samples.
std::vector<std::pair<std::int16_t, std::size_t>> runsOf(const std::string& output) {
    std::vector<std::pair<std::int16_t, std::size_t>> runs;
    for (std::size_t i = 0; i + 1 < output.size(); i += 2) {
        std::int16_t s;
        std::memcpy(&s, output.data() + i, 2);
        if (runs.empty() || runs.back().first != s) {
            runs.emplace_back(s, 0);
        }
        ++runs.back().second;
    }
    return runs;
}

// 48 kHz in 10 ms packets of steady values (0.25, 0.5 and 0.75 become samples 8191, 16383 and
// 24575; at 48 kHz each sample is every third frame, exactly), stamped from the stream's start:
// A, 50 packets, 1 s in (well after the format line); 3 s without packets; B, 50 packets; 1 s
// without packets; C, 20 packets, the first 10 of them handed out together 100 ms late; 0.5 s
// without packets; D, 30 packets from a sample clock 10 % slow (11 ms of stamps a packet).
TEST(SteadyClockEndToEnd, PacketsLandWhereTheirStampsSayAndTheDefaultStreamIsAsBefore) {
    std::string script = "mix_format ext-float 48000 2 32\nrealtime\npause 1000\n";
    const auto packets = [&script](int count, const char* value) {
        for (int i = 0; i < count; ++i) {
            script += std::string("packet 480 samples ") + value + "\n";
        }
    };
    packets(50, "0.25");
    script += "pause 3000\n";
    packets(50, "0.5");
    script += "pause 1000\nlate 100\n";
    packets(20, "0.75");
    script += "pause 500\ndrift 100000\n";
    packets(30, "0.25");
    AudioEngineDouble steadyEngine(script);
    HostProcess steady({{"1234", "--clock=steady"}});
    AudioEngineDouble defaultEngine(script);
    HostProcess byDefault({{"1234"}});
    for (int waited = 0; waited < 300 && (steadyEngine.recorded("release_buffer").size() < 150 ||
                                          defaultEngine.recorded("release_buffer").size() < 150);
         ++waited) {
        Sleep(100);
    }
    steady.write("exit\n");
    byDefault.write("exit\n");
    ASSERT_EQ(steady.waitForExit(), 0u);
    ASSERT_EQ(byDefault.waitForExit(), 0u);

    using Runs = std::vector<std::pair<std::int16_t, std::size_t>>;
    EXPECT_EQ(runsOf(byDefault.output()), (Runs{{8191, 8000}, {16383, 8000}, {24575, 3200}, {8191, 4800}}))
        << "by default the packets go back to back, as they come";
    EXPECT_TRUE(defaultEngine.recorded("get_buffer positions requested").empty());
    EXPECT_EQ(steadyEngine.recorded("get_buffer positions requested").size(), 1u);

    // A lasts 0.5 s (8,000 samples), B comes 3.5 s after A's start, C 1.5 s after B's (its
    // burst by its stamps, not its arrival), D 0.7 s after C's.
    const std::string output = steady.output();
    const Runs runs = runsOf(output);
    ASSERT_GE(runs.size(), 8u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_EQ(Runs(runs.begin() + 1, runs.begin() + 8),
              (Runs{{8191, 8000}, {0, 48000}, {16383, 8000}, {0, 16000}, {24575, 3200}, {0, 8000}, {8191, 3200}}));
    // D's 30 packets, plus the 20 ms of silence that went in once its stamps were 20 ms ahead.
    const std::size_t onsetD = runs[0].second + 8000 + 48000 + 8000 + 16000 + 3200 + 8000;
    ASSERT_EQ(runs.back().first, 0) << "silence up to the stop";
    const std::size_t endD = output.size() / 2 - runs.back().second;
    EXPECT_EQ(endD - onsetD, 30u * 160u + 320u);
    const Lines lines = steady.logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[win-helper] Stream clock adjusted by 20 ms"), 1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("Stream clock") != std::string::npos; }),
              1);
}

// A guardian's starter that takes a second: the program runs in a job that lets nothing break
// away, so the starter it starts is in the job too, and the job's port names it as it starts;
// it is then held suspended for 1 s.
class SlowStarter {
public:
    SlowStarter()
        : job_(CreateJobObjectA(nullptr, nullptr)), port_(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)) {
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
        association.CompletionKey = job_;
        association.CompletionPort = port_;
        SetInformationJobObject(job_, JobObjectAssociateCompletionPortInformation, &association, sizeof association);
    }
    ~SlowStarter() {
        if (watch_.joinable()) {
            watch_.join();
        }
        CloseHandle(port_);
        CloseHandle(job_);
    }
    SlowStarter(const SlowStarter&) = delete;
    SlowStarter& operator=(const SlowStarter&) = delete;

    HANDLE job() const { return job_; }
    // Watches the job for the first process other than the program, and holds it.
    void hold(DWORD program) {
        watch_ = std::thread([this, program] {
            using ProcessCall = LONG(NTAPI*)(HANDLE);
            const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
            const auto suspend =
                reinterpret_cast<ProcessCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSuspendProcess")));
            const auto resume =
                reinterpret_cast<ProcessCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtResumeProcess")));
            DWORD message = 0;
            ULONG_PTR key = 0;
            LPOVERLAPPED value = nullptr;
            while (GetQueuedCompletionStatus(port_, &message, &key, &value, 20000)) {
                const auto pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(value));
                if (message != JOB_OBJECT_MSG_NEW_PROCESS || pid == program) {
                    continue;
                }
                const HANDLE starter = OpenProcess(PROCESS_SUSPEND_RESUME, FALSE, pid);
                held_ = starter != nullptr && suspend(starter) == 0;
                Sleep(1000);
                resume(starter);
                CloseHandle(starter);
                return;
            }
        });
    }
    // After the run: whether the starter was held.
    bool held() {
        watch_.join();
        return held_;
    }

private:
    HANDLE job_;
    HANDLE port_;
    std::thread watch_;
    bool held_ = false;
};

// The first sample of sound from `from` on that follows at least this many samples of silence
// (the stream's end when none does).
std::size_t soundAfterSilence(const std::string& output, std::size_t from, std::size_t silence) {
    std::size_t zeros = 0;
    for (std::size_t i = from; i < output.size() / 2; ++i) {
        std::int16_t s;
        std::memcpy(&s, output.data() + 2 * i, 2);
        if (s != 0 && zeros >= silence) {
            return i;
        }
        zeros = s == 0 ? zeros + 1 : 0;
    }
    return output.size() / 2;
}

// 1 s of a 1 kHz tone from the client's start, 3 s without packets, 1 s of 440 Hz, while the
// program takes a second longer to start: the first tone is stamped before the capture loop
// runs, and still lands at its stamp, 4.0 s before the second.
TEST(SteadyClockEndToEnd, TheStreamCountsFromTheClientsStartHoweverLongTheProgramTakesToStart) {
    std::string script = "mix_format ext-float 48000 2 32\nrealtime\n";
    for (int i = 0; i < 100; ++i) {
        script += "packet 480 tone 1000 0.5\n";
    }
    script += "pause 3000\n";
    for (int i = 0; i < 100; ++i) {
        script += "packet 480 tone 440 0.5\n";
    }
    AudioEngineDouble engine(script);
    SlowStarter starter;
    HostProcess::Options options({"1234", "--clock=steady"});
    options.job = starter.job();
    HostProcess host(options);
    starter.hold(host.pid());
    for (int waited = 0; waited < 200 && engine.recorded("release_buffer").size() < 200; ++waited) {
        Sleep(100);
    }
    host.write("exit\n");
    ASSERT_EQ(host.waitForExit(), 0u);
    EXPECT_TRUE(starter.held()) << "the guardian's starter took a second";

    // 20 ms is 320 samples; the tones start at their stamps, 0 s and 4.0 s after the start.
    const std::string output = host.output();
    const std::size_t first = soundAfterSilence(output, 0, 0);
    const std::size_t second = soundAfterSilence(output, first, 16000);
    EXPECT_LE(first, 320u) << "the first tone, at the stream's start";
    ASSERT_LT(second, output.size() / 2) << "the second tone";
    EXPECT_NEAR(static_cast<double>(second - first), 64000.0, 320.0) << "4.0 s apart";
}

}  // namespace
