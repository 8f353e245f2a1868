// A player for the Linux tests: plays a sine tone to the sound server's default sink, mono
// 48 kHz float, with a small buffer so that it reaches the sink at once.
//   tone_player HZ AMPLITUDE SECONDS            plays it itself
//   tone_player HZ AMPLITUDE SECONDS --child    starts a child that plays it, and waits for it
//   tone_player HZ AMPLITUDE SECONDS --whole    writes it all at once, into a buffer that holds
//                                               it: however late the player runs, the sound
//                                               plays whole (it starts once written)
//   tone_player click AMPLITUDE SECONDS         silence with a 10 ms burst of 2 kHz every 500 ms
// Prints "playing <pid>" on standard output when the stream is open; with click, also
// "click <k> <ns>" for each burst, with the CLOCK_MONOTONIC time at which its block is written.

#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: tone_player HZ AMPLITUDE SECONDS [--child | --whole]\n");
        return 2;
    }
    if (argc > 4 && std::strcmp(argv[4], "--child") == 0) {
        const pid_t child = fork();
        if (child == 0) {
            // The child ends with its parent: a test that kills the parent leaves nothing playing.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            execl("/proc/self/exe", argv[0], argv[1], argv[2], argv[3], static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    const bool whole = argc > 4 && std::strcmp(argv[4], "--whole") == 0;
    const bool clicks = std::strcmp(argv[1], "click") == 0;
    const double hz = clicks ? 2000.0 : std::atof(argv[1]);
    const double amplitude = std::atof(argv[2]);
    const double seconds = std::atof(argv[3]);
    constexpr unsigned kRate = 48000;
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 1};
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xFF, sizeof attributes);
    const auto total = static_cast<long>(seconds * kRate);
    attributes.tlength = whole ? static_cast<std::uint32_t>(total * static_cast<long>(sizeof(float)))
                               : static_cast<std::uint32_t>(pa_usec_to_bytes(30000, &format));
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "tone_player", PA_STREAM_PLAYBACK, nullptr, "tone", &format, nullptr,
                                      &attributes, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "tone_player: %s\n", pa_strerror(error));
        return 1;
    }
    std::printf("playing %d\n", static_cast<int>(getpid()));
    std::fflush(stdout);
    std::vector<float> block(kRate / 100);
    constexpr long kClickPeriod = kRate / 2;
    for (long n = 0; n < total; n += static_cast<long>(block.size())) {
        // Blocks are 10 ms: with clicks, every 50th block is a burst, the others silence.
        const bool sounding = !clicks || n % kClickPeriod == 0;
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] =
                sounding
                    ? static_cast<float>(
                          amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(n + static_cast<long>(i)) / kRate))
                    : 0.0f;
        }
        if (clicks && sounding) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("click %ld %lld\n", n / kClickPeriod,
                        static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            std::fflush(stdout);
        }
        if (pa_simple_write(stream, block.data(), block.size() * sizeof(float), &error) < 0) {
            std::fprintf(stderr, "tone_player: %s\n", pa_strerror(error));
            break;
        }
    }
    pa_simple_drain(stream, &error);
    pa_simple_free(stream);
    return 0;
}
