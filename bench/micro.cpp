// Per-sample cost of the codec, of the prompt level meter and processor, and of both conversions on in-memory streams, without disk or
// process start-up. Each benchmark checks the length of what it produced.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "codec/adpcm.hpp"
#include "convert/convert.hpp"
#include "prompt/prompt.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes stereoWave(std::uint32_t rate, std::uint32_t frames) {
    Bytes b(44 + std::size_t{frames} * 4);
    const std::uint32_t dataSize = frames * 4;
    const std::uint32_t riffSize = dataSize + 36;
    std::memcpy(b.data(), "RIFF", 4);
    std::memcpy(b.data() + 4, &riffSize, 4);
    std::memcpy(b.data() + 8, "WAVEfmt ", 8);
    const std::uint8_t fmt[20] = {16, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 16, 0};
    std::memcpy(b.data() + 16, fmt, 20);
    std::memcpy(b.data() + 24, &rate, 4);
    std::memcpy(b.data() + 36, "data", 4);
    std::memcpy(b.data() + 40, &dataSize, 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(12000 * std::sin(i * 0.05) + (i * 7919 % 2001) - 1000);
        std::memcpy(b.data() + 44 + i * 4, &v, 2);
        std::memcpy(b.data() + 46 + i * 4, &v, 2);
    }
    return b;
}

void encodeSamples(benchmark::State& state) {
    std::vector<std::int16_t> samples(1 << 16);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>(20000 * std::sin(static_cast<double>(i) * 0.01) + static_cast<double>(i * 31 % 997));
    for (auto _ : state) {
        aamsg::AdpcmState codec;
        unsigned sum = 0;
        for (std::int16_t s : samples) sum += aamsg::encodeSample(s, codec);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * samples.size()));
}
BENCHMARK(encodeSamples);

// One conversion in memory through the entry point every front end calls; returns the
// output's length.
std::size_t convert(aamsg::Mode mode, const Bytes& input, Bytes& output) {
    output.clear();
    aamsg::InStream in = aamsg::memoryInput(input);
    aamsg::OutStream out = aamsg::memoryOutput(output);
    aamsg::Request request;
    request.mode = mode;
    aamsg::ProgressReport progress;
    aamsg::runConversion(request, in, out, progress);
    return output.size();
}

void decodeMessage(benchmark::State& state) {
    Bytes message(1 << 20);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    Bytes wave;
    for (auto _ : state) {
        if (convert(aamsg::Mode::Decode, message, wave) != 44 + 4 * message.size()) state.SkipWithError("wrong output length");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * message.size() * 2));
}
BENCHMARK(decodeMessage)->Unit(benchmark::kMillisecond);

// Items are input frames.
void encodeWave(benchmark::State& state) {
    const auto rate = static_cast<std::uint32_t>(state.range(0));
    const std::uint32_t frames = rate * 10;
    const Bytes file = stereoWave(rate, frames);
    Bytes message;
    for (auto _ : state) {
        const std::size_t size = convert(aamsg::Mode::Encode, file, message);
        if (size < 39999 || size > 40000) state.SkipWithError("wrong output length");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * frames));
}
BENCHMARK(encodeWave)->Arg(8000)->Arg(11025)->Arg(44100)->Arg(48000)->Unit(benchmark::kMillisecond);

// Ten seconds of speech-like bursts at 8 kHz, peaking at a quarter of full scale.
std::vector<float> promptSignal() {
    std::vector<float> s(80000);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double syllable = std::sin(static_cast<double>(i % 2400) * 3.14159265 / 2400.0);
        s[i] = static_cast<float>(8000.0 * syllable * std::sin(static_cast<double>(i) * 0.3) + static_cast<double>(i * 7919 % 801) - 400.0);
    }
    return s;
}

void meterPrompt(benchmark::State& state) {
    const std::vector<float> signal = promptSignal();
    for (auto _ : state) {
        aamsg::SpeechMeter meter = aamsg::makeSpeechMeter();
        aamsg::meterSamples(meter, signal);
        benchmark::DoNotOptimize(aamsg::finishMeter(meter).activeDb);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(signal.size()));
}
BENCHMARK(meterPrompt);

// The processor with level and trim, its target (arg, dB) below or far past the level at
// which the limiter acts.
void levelPrompt(benchmark::State& state) {
    const std::vector<float> signal = promptSignal();
    aamsg::SpeechMeter meter = aamsg::makeSpeechMeter();
    aamsg::meterSamples(meter, signal);
    const aamsg::PromptPlan plan = aamsg::planPrompt(aamsg::finishMeter(meter), {true, static_cast<double>(state.range(0)), true});
    std::vector<float> out(signal.size() + aamsg::kPromptDelay);
    for (auto _ : state) {
        aamsg::PromptProcessor processor = aamsg::makePromptProcessor(plan);
        std::size_t n = aamsg::processPrompt(processor, signal, out.data());
        n += aamsg::finishPrompt(processor, out.data() + n);
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(signal.size()));
    state.SetLabel(plan.mayLimit ? "limited" : "within full scale");
}
BENCHMARK(levelPrompt)->Arg(-22)->Arg(-6);

}  // namespace

BENCHMARK_MAIN();
