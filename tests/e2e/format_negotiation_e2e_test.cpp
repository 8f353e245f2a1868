// Format negotiation and client initialisation: each fallback's lines and the format bytes
// Initialize received.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/audio_engine_double.h"
#include "support/expected_lines.h"
#include "support/host_process.h"

namespace {

// The PCM fallback as Initialize receives it: tag 1, 2 channels, 44100, 176400, 4, 16, cbSize 0.
const std::string kPcm44kBytes = "0100020044ac000010b10200040010000000";

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

}  // namespace
