// Throughput of the down-converter against two peer resamplers doing the same job: mix each
// packet down to mono, resample to 16 kHz, write 16-bit samples to a sink. Input frames per
// second; compare rows of one run (the machine is shared).
//
//   build/native/bench/downconverter_benchmark --benchmark_min_time=0.5

#include <benchmark/benchmark.h>
#include <samplerate.h>
#include <speex/speex_resampler.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "capture/pcm_downconverter.h"

namespace {

struct Scenario {
    FormatSummary format;
    std::vector<std::uint32_t> packetFrames;  // played in a loop
};

const Scenario kScenarios[] = {
    {{48000, 2, 32, true}, {480}}, {{44100, 2, 16, false}, {441}}, {{44100, 2, 16, false}, {441, 100, 333, 7, 1000, 1}},
    {{48000, 8, 32, true}, {480}}, {{96000, 2, 24, false}, {960}},
};

// A second of captured audio in the scenario's format: a tone on every channel.
std::vector<std::uint8_t> makeInput(const FormatSummary& format, std::size_t frames) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t n = 0; n < frames; ++n) {
        const double value =
            0.5 * std::sin(2.0 * 3.14159265358979 * 440.0 * static_cast<double>(n) / format.sampleRate);
        for (std::uint16_t c = 0; c < format.channels; ++c) {
            if (format.isFloat) {
                const auto f = static_cast<float>(value);
                const auto* p = reinterpret_cast<const std::uint8_t*>(&f);
                bytes.insert(bytes.end(), p, p + 4);
            } else {
                const auto integer = static_cast<std::int32_t>(value * (std::ldexp(1.0, format.bitsPerSample - 1) - 1));
                for (int b = 0; b < format.bitsPerSample / 8; ++b) {
                    bytes.push_back(static_cast<std::uint8_t>(integer >> (8 * b)));
                }
            }
        }
    }
    return bytes;
}

// The peers' front end: interleaved frames to mono floats.
void mixToMono(const FormatSummary& format, const std::uint8_t* data, std::uint32_t frames, float* mono) {
    const std::size_t bytesPerSample = format.bitsPerSample / 8;
    for (std::uint32_t j = 0; j < frames; ++j) {
        float sum = 0.0f;
        for (std::uint16_t c = 0; c < format.channels; ++c) {
            const std::uint8_t* p = data + (static_cast<std::size_t>(j) * format.channels + c) * bytesPerSample;
            float v;
            if (format.isFloat) {
                std::memcpy(&v, p, 4);
            } else if (format.bitsPerSample == 16) {
                v = static_cast<float>(static_cast<std::int16_t>(p[0] | (p[1] << 8))) * (1.0f / 32768.0f);
            } else {
                std::int32_t s = p[0] | (p[1] << 8) | (p[2] << 16);
                if (s & 0x800000) {
                    s -= 0x1000000;
                }
                v = static_cast<float>(s) * (1.0f / 8388608.0f);
            }
            sum += v;
        }
        mono[j] = sum / static_cast<float>(format.channels);
    }
}

void writeSamples(const float* values, std::size_t count, std::vector<std::uint8_t>& sink) {
    for (std::size_t i = 0; i < count; ++i) {
        const float v = std::fmax(-1.0f, std::fmin(1.0f, values[i]));
        const auto s = static_cast<std::int16_t>(v * 32767.0f);
        sink.push_back(static_cast<std::uint8_t>(s & 0xFF));
        sink.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
}

// Runs `convert(data, frames)` over the scenario's packets; counts input frames.
template <class Convert>
void runPackets(benchmark::State& state, const Scenario& scenario, Convert&& convert) {
    const FormatSummary& format = scenario.format;
    const std::size_t frameBytes = static_cast<std::size_t>(format.channels) * format.bitsPerSample / 8;
    const std::vector<std::uint8_t> input = makeInput(format, format.sampleRate);
    std::size_t offset = 0;
    std::size_t next = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        const std::uint32_t packet = scenario.packetFrames[next++ % scenario.packetFrames.size()];
        if ((offset + packet) * frameBytes > input.size()) {
            offset = 0;
        }
        convert(input.data() + offset * frameBytes, packet);
        offset += packet;
        frames += packet;
    }
    state.SetItemsProcessed(frames);
}

void BM_Quillmere(benchmark::State& state) {
    const Scenario& scenario = kScenarios[state.range(0)];
    PcmDownconverter converter(scenario.format);
    std::vector<std::uint8_t> sink;
    sink.reserve(1 << 16);
    runPackets(state, scenario, [&](const std::uint8_t* data, std::uint32_t frames) {
        const auto& bytes = converter.convert(data, frames, 0);
        sink.assign(bytes.begin(), bytes.end());
        benchmark::DoNotOptimize(sink.data());
    });
}

void BM_LibsamplerateLinear(benchmark::State& state) {
    const Scenario& scenario = kScenarios[state.range(0)];
    int error = 0;
    SRC_STATE* resampler = src_new(SRC_LINEAR, 1, &error);
    std::vector<float> mono(4096), resampled(4096);
    std::vector<std::uint8_t> sink;
    sink.reserve(1 << 16);
    SRC_DATA job = {};
    job.src_ratio = 16000.0 / scenario.format.sampleRate;
    runPackets(state, scenario, [&](const std::uint8_t* data, std::uint32_t frames) {
        mixToMono(scenario.format, data, frames, mono.data());
        job.data_in = mono.data();
        job.input_frames = frames;
        job.data_out = resampled.data();
        job.output_frames = static_cast<long>(resampled.size());
        src_process(resampler, &job);
        sink.clear();
        writeSamples(resampled.data(), static_cast<std::size_t>(job.output_frames_gen), sink);
        benchmark::DoNotOptimize(sink.data());
    });
    src_delete(resampler);
}

void BM_SpeexQuality0(benchmark::State& state) {
    const Scenario& scenario = kScenarios[state.range(0)];
    int error = 0;
    SpeexResamplerState* resampler = speex_resampler_init(1, scenario.format.sampleRate, 16000, 0, &error);
    speex_resampler_skip_zeros(resampler);
    std::vector<float> mono(4096), resampled(4096);
    std::vector<std::uint8_t> sink;
    sink.reserve(1 << 16);
    runPackets(state, scenario, [&](const std::uint8_t* data, std::uint32_t frames) {
        mixToMono(scenario.format, data, frames, mono.data());
        spx_uint32_t in = frames;
        spx_uint32_t out = static_cast<spx_uint32_t>(resampled.size());
        speex_resampler_process_float(resampler, 0, mono.data(), &in, resampled.data(), &out);
        sink.clear();
        writeSamples(resampled.data(), out, sink);
        benchmark::DoNotOptimize(sink.data());
    });
    speex_resampler_destroy(resampler);
}

void scenarioArgs(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgName("scenario");
    for (int i = 0; i < static_cast<int>(std::size(kScenarios)); ++i) {
        benchmark->Arg(i);
    }
}

BENCHMARK(BM_Quillmere)->Apply(scenarioArgs);
BENCHMARK(BM_LibsamplerateLinear)->Apply(scenarioArgs);
BENCHMARK(BM_SpeexQuality0)->Apply(scenarioArgs);

}  // namespace

BENCHMARK_MAIN();
