// The filtered down-converter against the usual resampler libraries, all doing the same job:
// 48 kHz stereo float in 480-frame packets, mixed to mono, resampled to 16 kHz, written as 16-bit
// samples. For each: the stop band's worst tone (8.5 kHz to 24 kHz, as it lands in the output),
// the pass band's worst deviation (100 Hz to 7 kHz), the in-band (0 to 7 kHz) signal-to-alias
// ratio of pink noise, and input frames per second on one core. Everything in one run, speed in
// alternating rounds (the machine is shared: compare the rows, not the runs).
//
//   build/bench/bench/resampler_quality [rounds]

#include <samplerate.h>
#include <soxr.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "capture/pcm_downconverter.h"
#include "support/tone_measure.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::uint32_t kRate = 48000;
constexpr std::uint32_t kPacket = 480;

// A mono resampler to 16 kHz that keeps its state across calls.
class Resampler {
public:
    virtual ~Resampler() = default;
    virtual void process(const float* in, std::size_t frames, std::vector<float>& out) = 0;
};

class Ours : public Resampler {
public:
    void process(const float* in, std::size_t frames, std::vector<float>& out) override {
        resampler_.process(in, frames, out);
    }

private:
    SincResampler resampler_{kRate};
};

class Soxr : public Resampler {
public:
    explicit Soxr(unsigned long recipe) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        soxr_ = soxr_create(kRate, 16000, 1, &error, &io, &quality, &runtime);
        if (error != nullptr) {
            std::fprintf(stderr, "soxr: %s\n", error);
            std::exit(1);
        }
    }
    ~Soxr() override { soxr_delete(soxr_); }
    void process(const float* in, std::size_t frames, std::vector<float>& out) override {
        out.resize(frames + 64);
        std::size_t done = 0;
        std::size_t produced = 0;
        soxr_process(soxr_, in, frames, &done, out.data(), out.size(), &produced);
        out.resize(produced);
    }

private:
    soxr_t soxr_ = nullptr;
};

class Speex : public Resampler {
public:
    explicit Speex(int quality) {
        int error = 0;
        speex_ = speex_resampler_init(1, kRate, 16000, quality, &error);
    }
    ~Speex() override { speex_resampler_destroy(speex_); }
    void process(const float* in, std::size_t frames, std::vector<float>& out) override {
        out.resize(frames + 64);
        auto inCount = static_cast<spx_uint32_t>(frames);
        auto outCount = static_cast<spx_uint32_t>(out.size());
        speex_resampler_process_float(speex_, 0, in, &inCount, out.data(), &outCount);
        out.resize(outCount);
    }

private:
    SpeexResamplerState* speex_ = nullptr;
};

class Libsamplerate : public Resampler {
public:
    explicit Libsamplerate(int converter) {
        int error = 0;
        src_ = src_new(converter, 1, &error);
    }
    ~Libsamplerate() override { src_delete(src_); }
    void process(const float* in, std::size_t frames, std::vector<float>& out) override {
        out.resize(frames + 64);
        SRC_DATA job = {};
        job.data_in = in;
        job.input_frames = static_cast<long>(frames);
        job.data_out = out.data();
        job.output_frames = static_cast<long>(out.size());
        job.src_ratio = 16000.0 / kRate;
        src_process(src_, &job);
        out.resize(static_cast<std::size_t>(job.output_frames_gen));
    }

private:
    SRC_STATE* src_ = nullptr;
};

// The default stream: the program's converter without the filter, fed mono floats; its 16-bit
// samples are read back as floats.
class Linear : public Resampler {
public:
    void process(const float* in, std::size_t frames, std::vector<float>& out) override {
        const auto& bytes =
            converter_.convert(reinterpret_cast<const std::uint8_t*>(in), static_cast<std::uint32_t>(frames), 0);
        out.resize(bytes.size() / 2);
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = static_cast<float>(static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8))) / 32767.0f;
        }
    }

private:
    PcmDownconverter converter_{FormatSummary{kRate, 1, 32, true}};
};

struct Peer {
    std::string name;
    std::function<std::unique_ptr<Resampler>()> make;
};

// Runs a whole mono signal through a fresh resampler in packets.
std::vector<float> resample(const Peer& peer, const std::vector<float>& input) {
    const auto resampler = peer.make();
    std::vector<float> all;
    std::vector<float> out;
    for (std::size_t offset = 0; offset < input.size(); offset += kPacket) {
        resampler->process(input.data() + offset, std::min<std::size_t>(kPacket, input.size() - offset), out);
        all.insert(all.end(), out.begin(), out.end());
    }
    return all;
}

// The gain in dB of a 0.5 tone as it lands in the output, on 8,192 samples after the start-up
// (of the 16,000 that a second of input gives).
double toneGainDb(const Peer& peer, double hz) {
    std::vector<float> input(kRate);
    for (std::size_t i = 0; i < input.size(); ++i) {
        input[i] = static_cast<float>(0.5 * std::sin(2.0 * kPi * hz * static_cast<double>(i) / kRate));
    }
    const std::vector<float> out = resample(peer, input);
    const std::vector<float> steady(out.begin() + 2000, out.begin() + 2000 + 8192);
    double landed = std::fmod(hz, 16000.0);
    landed = landed > 8000.0 ? 16000.0 - landed : landed;
    return 20.0 * std::log10(tone_measure::amplitudeAt(steady, landed, 16000.0) / 0.5 + 1e-15);
}

using Complex = std::complex<double>;

void fft(std::vector<Complex>& a, bool inverse) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(a[i], a[j]);
        }
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const double angle = 2.0 * kPi / static_cast<double>(length) * (inverse ? 1.0 : -1.0);
        const Complex unit(std::cos(angle), std::sin(angle));
        for (std::size_t i = 0; i < n; i += length) {
            Complex w(1.0);
            for (std::size_t j = 0; j < length / 2; ++j) {
                const Complex u = a[i + j];
                const Complex v = a[i + j + length / 2] * w;
                a[i + j] = u + v;
                a[i + j + length / 2] = u - v;
                w *= unit;
            }
        }
    }
}

// Pink noise (power falling 3 dB per octave) at 48 kHz, of the components from lowHz to highHz
// only, made in the frequency domain: about 21.8 s, the same random phases and scale for every
// band (a full band from 20 Hz would be about -20 dBFS RMS).
std::vector<float> pinkNoise(double lowHz, double highHz) {
    const std::size_t n = 1 << 20;
    std::vector<Complex> bins(n);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * kPi);
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double hz = static_cast<double>(k) * kRate / static_cast<double>(n);
        const double theta = phase(random);
        if (hz >= lowHz && hz <= highHz) {
            bins[k] = std::polar(1.0 / std::sqrt(hz), theta);
            bins[n - k] = std::conj(bins[k]);
        }
    }
    fft(bins, true);
    std::vector<float> signal(n);
    for (std::size_t i = 0; i < n; ++i) {
        signal[i] = static_cast<float>(bins[i].real() * 0.0062);
    }
    return signal;
}

// The power of a 16 kHz signal from 20 Hz to 7 kHz, on 2^18 samples after the start-up.
double inBandPower(const std::vector<float>& signal) {
    const std::size_t n = 1 << 18;
    std::vector<Complex> a(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(n));
        a[i] = w * signal[4000 + i];
    }
    fft(a, false);
    double power = 0.0;
    for (std::size_t k = 0; k < n / 2; ++k) {
        const double hz = static_cast<double>(k) * 16000.0 / static_cast<double>(n);
        if (hz >= 20.0 && hz <= 7000.0) {
            power += std::norm(a[k]);
        }
    }
    return power;
}

// The whole job on one packet, as the program does it: mix, resample, write 16-bit samples.
double framesPerSecond(const Peer& peer, double seconds) {
    std::vector<float> interleaved(2 * kRate);
    for (std::size_t i = 0; i < kRate; ++i) {
        const auto v = static_cast<float>(0.5 * std::sin(2.0 * kPi * 440.0 * static_cast<double>(i) / kRate));
        interleaved[2 * i] = v;
        interleaved[2 * i + 1] = v;
    }
    const auto resampler = peer.make();
    std::vector<float> mono(kPacket);
    std::vector<float> out;
    std::vector<std::uint8_t> sink;
    sink.reserve(4096);
    std::uint64_t frames = 0;
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0.0;
    while (elapsed < seconds) {
        for (std::size_t offset = 0; offset < kRate; offset += kPacket) {
            const float* packet = interleaved.data() + 2 * offset;
            for (std::size_t j = 0; j < kPacket; ++j) {
                mono[j] = (packet[2 * j] + packet[2 * j + 1]) / 2.0f;
            }
            resampler->process(mono.data(), kPacket, out);
            sink.clear();
            for (const float value : out) {
                const auto s = static_cast<std::int16_t>(std::fmax(-1.0f, std::fmin(1.0f, value)) * 32767.0f);
                sink.push_back(static_cast<std::uint8_t>(s & 0xFF));
                sink.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
            }
        }
        frames += kRate;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (sink.size() == 1) {
        std::puts("");  // keeps the sink alive
    }
    return static_cast<double>(frames) / elapsed;
}

// Our whole converter from interleaved bytes, as the program runs it.
double oursConverterFramesPerSecond(double seconds) {
    std::vector<float> interleaved(2 * kRate);
    for (std::size_t i = 0; i < kRate; ++i) {
        const auto v = static_cast<float>(0.5 * std::sin(2.0 * kPi * 440.0 * static_cast<double>(i) / kRate));
        interleaved[2 * i] = v;
        interleaved[2 * i + 1] = v;
    }
    PcmDownconverter converter({kRate, 2, 32, true}, ResampleQuality::High);
    std::uint64_t frames = 0;
    std::size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0.0;
    while (elapsed < seconds) {
        for (std::size_t offset = 0; offset < kRate; offset += kPacket) {
            const auto* packet = reinterpret_cast<const std::uint8_t*>(interleaved.data() + 2 * offset);
            bytes += converter.convert(packet, kPacket, 0).size();
        }
        frames += kRate;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (bytes == 1) {
        std::puts("");
    }
    return static_cast<double>(frames) / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::vector<Peer> peers = {
        {"Quillmere --quality=high", [] { return std::make_unique<Ours>(); }},
        {"Quillmere default (linear)", [] { return std::make_unique<Linear>(); }},
        {"libsoxr HQ", [] { return std::make_unique<Soxr>(SOXR_HQ); }},
        {"libsoxr VHQ", [] { return std::make_unique<Soxr>(SOXR_VHQ); }},
        {"speexdsp quality 5", [] { return std::make_unique<Speex>(5); }},
        {"speexdsp quality 10", [] { return std::make_unique<Speex>(10); }},
        {"libsamplerate SINC_FASTEST", [] { return std::make_unique<Libsamplerate>(SRC_SINC_FASTEST); }},
        {"libsamplerate SINC_MEDIUM_QUALITY", [] { return std::make_unique<Libsamplerate>(SRC_SINC_MEDIUM_QUALITY); }},
    };

    const std::vector<float> lowBand = pinkNoise(20.0, 7000.0);
    const std::vector<float> highBand = pinkNoise(8500.0, 24000.0);

    std::vector<std::vector<double>> speeds(peers.size());
    std::vector<double> convertSpeeds;
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t p = 0; p < peers.size(); ++p) {
            speeds[p].push_back(framesPerSecond(peers[p], 1.0));
        }
        convertSpeeds.push_back(oursConverterFramesPerSecond(1.0));
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };

    std::printf(
        "| Resampler | stop band, worst tone 8.5-24 kHz | pass band, worst 0.1-7 kHz | "
        "pink noise in-band SAR | frames/s (median of %d) | times real time |\n",
        rounds);
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    for (std::size_t p = 0; p < peers.size(); ++p) {
        double worstStop = -400.0;
        for (double hz = 8500.0; hz < 24000.0; hz += 97.0) {
            worstStop = std::max(worstStop, toneGainDb(peers[p], hz));
        }
        double worstPass = 0.0;
        for (double hz = 100.0; hz <= 7000.0; hz += 100.0) {
            const double db = toneGainDb(peers[p], hz);
            worstPass = std::abs(db) > std::abs(worstPass) ? db : worstPass;
        }
        const double signal = inBandPower(resample(peers[p], lowBand));
        const double alias = inBandPower(resample(peers[p], highBand));
        const double speed = median(speeds[p]);
        std::printf("| %s | %.1f dB | %+.3f dB | %.1f dB | %.1f M | %.0f |\n", peers[p].name.c_str(), worstStop,
                    worstPass, 10.0 * std::log10(signal / alias), speed / 1e6, speed / kRate);
    }
    const double converter = median(convertSpeeds);
    std::printf(
        "\nQuillmere's whole converter with --quality=high (bytes in, bytes out): %.1f M frames/s, %.0f times "
        "real time\n",
        converter / 1e6, converter / kRate);
    return 0;
}
