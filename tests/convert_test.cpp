// The two conversions on in-memory files: output bytes, console bytes, results, and that the
// block size of the streams changes none of them.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>

#include "codec/adpcm.hpp"
#include "convert/convert.hpp"
#include "wave/wave.hpp"
#include "measures.hpp"
#include "support.hpp"
#include "wave_builder.hpp"

namespace aamsg {
namespace {

using test::Bytes;
using test::convert;
using test::duration;
using test::progressLine;
using test::Converted;
using test::samplesOf;

std::uint32_t u32At(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

TEST(Decode, EmptyInputGivesHeaderOnly) {
    const Converted run = convert(Mode::Decode, {});
    ASSERT_EQ(run.result, kOk);
    const Bytes expected = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                            16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0,
                            2, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.console, progressLine(0) + duration(0, 0));
}

TEST(Decode, OneByte) {
    const Converted run = convert(Mode::Decode, {0x70});
    ASSERT_EQ(run.result, kOk);
    ASSERT_EQ(run.output.size(), 48u);
    EXPECT_EQ(u32At(run.output, 4), 40u);
    EXPECT_EQ(u32At(run.output, 40), 4u);
    EXPECT_EQ(Bytes(run.output.begin() + 44, run.output.end()), (Bytes{0x0B, 0x00, 0x0D, 0x00}));
    EXPECT_EQ(run.console, progressLine(1) + duration(0, 0));
}

TEST(Decode, SignOnlyAndMixedBytes) {
    EXPECT_EQ(samplesOf(convert(Mode::Decode, {0x88}).output), (std::vector<std::int16_t>{0, 0}));
    EXPECT_EQ(samplesOf(convert(Mode::Decode, {0x7F}).output), (std::vector<std::int16_t>{11, -19}));
}

TEST(Decode, SizesDurationAndProgressForWholeSeconds) {
    const Converted second = convert(Mode::Decode, Bytes(4000, 0x5A));
    ASSERT_EQ(second.result, kOk);
    EXPECT_EQ(u32At(second.output, 4), 16036u);
    EXPECT_EQ(u32At(second.output, 40), 16000u);
    EXPECT_EQ(second.output.size(), 16044u);
    EXPECT_EQ(second.console, progressLine(100) + duration(0, 1));

    const Converted minute = convert(Mode::Decode, Bytes(240000, 0x31));
    EXPECT_EQ(minute.console, progressLine(100) + duration(1, 0));
}

Bytes noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes b(size);
    for (auto& x : b) x = static_cast<std::uint8_t>(random());
    return b;
}

// The block size is an internal matter: output and console must not depend on it.
TEST(Streams, BlockSizeChangesNothing) {
    std::vector<int> stereo;
    for (int i = 0; i < 30000; ++i) stereo.push_back(static_cast<int>(20000 * std::sin(i * 0.01)) + (i % 7) * 300);
    const Bytes wave = test::riff({{"JUNK", Bytes(13, 1)},
                                   {"fmt ", test::fmtBody(1, 2, 44100, 4, 16, 2)},
                                   {"LIST", Bytes(31, 2)},
                                   {"data", test::pcm16(stereo)}});
    const Bytes message = noise(50001, 3);
    const Converted encodeRef = convert(Mode::Encode, wave);
    const Converted decodeRef = convert(Mode::Decode, message);
    ASSERT_EQ(encodeRef.result, kOk);
    ASSERT_EQ(decodeRef.result, kOk);
    for (std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{1} << 20}) {
        const Converted e = convert(Mode::Encode, wave, {block});
        EXPECT_EQ(e.output, encodeRef.output) << block;
        EXPECT_EQ(e.console, encodeRef.console) << block;
        const Converted d = convert(Mode::Decode, message, {block});
        EXPECT_EQ(d.output, decodeRef.output) << block;
        EXPECT_EQ(d.console, decodeRef.console) << block;
    }
}

TEST(Decode, ReadFailureStopsWithoutMadeUpSamples) {
    const Bytes message = noise(1000, 4);
    const Converted run = convert(Mode::Decode, message, {64, UINT64_MAX, 300});
    EXPECT_EQ(run.result, kCannotReadInput);
    EXPECT_EQ(run.output.size(), 44u + 300 * 4);
    EXPECT_EQ(run.console.find("Total time"), std::string::npos);
}

TEST(Streams, WriteFailureIsReported) {
    EXPECT_EQ(convert(Mode::Decode, noise(100000, 5), {4096, 10000}).result, kCannotWriteOutput);
    EXPECT_EQ(convert(Mode::Decode, {}, {4096, 20}).result, kCannotWriteOutput);
    const Bytes wave = test::wave(1, 8000, 16, std::vector<int>(20000, 1234));
    EXPECT_EQ(convert(Mode::Encode, wave, {512, 100}).result, kCannotWriteOutput);
}

TEST(Encode, PassesThroughAt8000AndDropsLastFrame) {
    const Converted run = convert(Mode::Encode, test::wave(1, 8000, 16, {1000, 1000, 1000, 1000, -1000, -1000, 0}));
    ASSERT_EQ(run.result, kOk);
    EXPECT_EQ(run.output, (Bytes{0x77, 0x77, 0xFF}));
    EXPECT_EQ(run.console, progressLine(1) + duration(0, 0));
}

TEST(Encode, OddFinalCodeIsDropped) {
    for (int frames : {1, 2}) {
        const Converted run = convert(Mode::Encode, test::wave(1, 8000, 16, std::vector<int>(static_cast<std::size_t>(frames), 500)));
        EXPECT_EQ(run.result, kOk);
        EXPECT_TRUE(run.output.empty()) << frames;
    }
    const Converted three = convert(Mode::Encode, test::wave(1, 8000, 16, {100, 200, 300}));
    EXPECT_EQ(three.output, test::greedyMessage({100, 200}));
}

TEST(Encode, OutputLengthFollowsTheTimes) {
    EXPECT_EQ(convert(Mode::Encode, test::wave(1, 4000, 16, std::vector<int>(400, 7))).output.size(), 399u);
    EXPECT_EQ(convert(Mode::Encode, test::wave(1, 16000, 16, std::vector<int>(1600, 7))).output.size(), 400u);
    // One frame at 4000 per second: the instants 0 and 1/8000 are emitted, a whole byte.
    EXPECT_EQ(convert(Mode::Encode, test::wave(1, 4000, 16, {300})).output, test::greedyMessage({300, 300}));
}

TEST(Encode, HalfwayValuesAreTruncatedTowardZero) {
    // At 4000 per second every second output lies halfway between two frames.
    const Converted run = convert(Mode::Encode, test::wave(1, 4000, 16, {0, -3, 0, 3, 0}));
    EXPECT_EQ(run.output, test::greedyMessage({0, -1, -3, -1, 0, 1, 3, 1}));
}

TEST(Encode, StereoSumIsClippedNotWrapped) {
    const Converted loud = convert(Mode::Encode, test::wave(2, 8000, 16, {30000, 30000, 30000, 30000, -30000, -30000, 0, 0, 0, 0}));
    EXPECT_EQ(loud.output, test::greedyMessage({32767, 32767, -32768, 0}));
}

TEST(Encode, EightBitLayouts) {
    const Converted mono = convert(Mode::Encode, test::wave(1, 8000, 8, {128, 255, 0, 129, 128}));
    EXPECT_EQ(mono.output, test::greedyMessage({0, 32512, -32768, 256}));
    const Converted stereo = convert(Mode::Encode, test::wave(2, 8000, 8, {255, 255, 0, 0, 128, 129, 0, 0, 1, 1}));
    EXPECT_EQ(stereo.output, test::greedyMessage({32767, -32768, 256, -32768}));
}

TEST(Encode, ThirtyTwoBitSamplesUseTheirHighBytes) {
    std::vector<int> samples;
    for (int i = 0; i < 3000; ++i) samples.push_back(static_cast<int>(25000 * std::sin(i * 0.037)));
    Bytes wide;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        test::appendU16(wide, static_cast<std::uint32_t>(i * 40503u) & 0xFFFF);  // any low bits
        test::appendU16(wide, static_cast<std::uint16_t>(samples[i]));
    }
    const Bytes wave32 = test::riff({{"fmt ", test::fmtBody(1, 1, 11025, 4, 32)}, {"data", wide}});
    const Converted narrow = convert(Mode::Encode, test::wave(1, 11025, 16, samples));
    const Converted wideRun = convert(Mode::Encode, wave32);
    ASSERT_EQ(narrow.result, kOk);
    EXPECT_EQ(wideRun.output, narrow.output);
}

TEST(Encode, TruncatedDataKeepsPartialOutput) {
    Bytes file = test::wave(1, 8000, 16, std::vector<int>(2000, 4000));
    file.resize(file.size() - 1001);  // the data chunk still claims 2000 frames
    const Converted run = convert(Mode::Encode, file);
    EXPECT_EQ(run.result, kCorrupted);
    EXPECT_EQ(run.output.size(), 749u);  // frames 0..1498 arrive; 0..1497 are emitted
    EXPECT_EQ(run.console.find("Total time"), std::string::npos);
}

TEST(Encode, HeaderFailureWritesNothing) {
    const Converted run = convert(Mode::Encode, Bytes{'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e', '!', '!'});
    EXPECT_EQ(run.result, kNotAudioFile);
    EXPECT_TRUE(run.output.empty());
    EXPECT_TRUE(run.console.empty());
}

TEST(Encode, ProgressCountsUnreadFrames) {
    const Converted run = convert(Mode::Encode, test::wave(1, 8000, 16, std::vector<int>(10002, 0)));
    EXPECT_EQ(run.console, progressLine(100) + duration(0, 1));
    // Downsampling passes over frames in runs; each mark must still be printed once, in order.
    const Converted fast = convert(Mode::Encode, test::wave(2, 44100, 16, std::vector<int>(2 * 100002, 5)));
    EXPECT_EQ(fast.console, progressLine(100) + duration(0, 2));
    const Converted few = convert(Mode::Encode, test::wave(1, 44100, 16, std::vector<int>(52, 5)));
    EXPECT_EQ(few.console, progressLine(1) + duration(0, 0));
}

// The conversion written out plainly, division and all, one frame at a time: the production
// loop must give the same bytes whatever shortcuts it takes.
std::vector<int> referenceResample(const std::vector<double>& frames, std::uint32_t rate) {
    const double inPeriod = 1.0 / static_cast<double>(rate);
    const double outPeriod = 0.000125;
    std::size_t nextIndex = 1;
    double current = frames[0];
    double next = frames.size() > 1 ? frames[1] : frames[0];
    double tIn = inPeriod;
    double tOut = 0.0;
    std::vector<int> samples;
    for (;;) {
        bool output = false;
        bool advance = false;
        double value = 0;
        if (rate == 8000) {
            tIn += inPeriod;
            tOut += outPeriod;
            value = current;
            output = advance = true;
        } else {
            const double e = (tIn - tOut) / inPeriod;
            if (e >= 0.0) {
                value = (1.0 - e) * next + e * current;
                tOut += outPeriod;
                output = true;
            } else {
                tIn += inPeriod;
                advance = true;
            }
        }
        if (output) samples.push_back(static_cast<int>(std::trunc(std::fmin(32767.0, std::fmax(-32768.0, value)))));
        if (advance) {
            if (nextIndex + 1 >= frames.size()) break;
            current = next;
            next = frames[++nextIndex];
        }
    }
    return samples;
}

Bytes referenceEncode(const std::vector<double>& frames, std::uint32_t rate) {
    return test::greedyMessage(referenceResample(frames, rate));
}

TEST(Encode, MatchesPlainReferenceAtManyRates) {
    std::mt19937 random(11);
    const std::uint32_t rates[] = {1, 3, 4000, 7999, 8001, 11025, 16000, 22050, 44100, 48000, 96000, 192000, 4294967295u};
    for (std::uint32_t rate : rates) {
        for (int frameCount : {1, 2, 3, 97, 5000}) {
            if (rate < 100 && frameCount > 3) continue;  // a 1 Hz file of many frames is hours long
            std::vector<int> left;
            std::vector<int> interleaved;
            std::vector<double> mixed;
            for (int i = 0; i < frameCount; ++i) {
                const int l = static_cast<int>(random() % 65536) - 32768;
                const int r = static_cast<int>(random() % 65536) - 32768;
                interleaved.push_back(l);
                interleaved.push_back(r);
                mixed.push_back(static_cast<double>(l + r));
            }
            const Converted run = convert(Mode::Encode, test::wave(2, rate, 16, interleaved));
            ASSERT_EQ(run.result, kOk) << rate << " " << frameCount;
            EXPECT_EQ(run.output, referenceEncode(mixed, rate)) << rate << " " << frameCount;
        }
    }
}

// Every combination of the format fields that shape a frame, the odd ones included: the
// conversion must mix each frame exactly as readFrame does on its own.
TEST(Encode, EveryFrameLayoutMixesAsTheReaderDoes) {
    std::mt19937 random(13);
    for (std::uint16_t channels : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{3}, std::uint16_t{65535}}) {
        for (std::uint16_t blockAlign : {std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{4}}) {
            for (std::uint16_t bits : {std::uint16_t{1}, std::uint16_t{8}, std::uint16_t{12}, std::uint16_t{16}, std::uint16_t{24}, std::uint16_t{32}}) {
                Bytes data(4000u * blockAlign + 1);
                for (auto& b : data) b = static_cast<std::uint8_t>(random());
                const Bytes file = test::riff({{"fmt ", test::fmtBody(1, channels, 11025, blockAlign, bits)}, {"data", data}});
                InStream in = memoryInput(file);
                WaveFormat format;
                std::uint32_t frameCount = 0;
                ASSERT_EQ(readWaveHeader(in, format, frameCount), kOk);
                std::vector<double> frames(frameCount);
                for (double& f : frames) ASSERT_EQ(readFrame(in, format, f), kOk);
                const std::string layout = std::to_string(channels) + "/" + std::to_string(blockAlign) + "/" + std::to_string(bits);
                EXPECT_EQ(convert(Mode::Encode, file).output, referenceEncode(frames, 11025)) << layout;
            }
        }
    }
}

// A half-scale sine at 8000 per second, encoded and decoded again. A 4-bit ADPCM step
// quantiser tracks low tones well and high ones less well; measured: 33.4, 20.5 and 17.0 dB.
TEST(RoundTrip, SineKeepsSignalToNoiseRatio) {
    const std::pair<double, double> minimumSnr[] = {{300.0, 32.0}, {1000.0, 19.5}, {2500.0, 16.0}};
    for (const auto& [frequency, bound] : minimumSnr) {
        std::vector<int> samples;
        for (int i = 0; i < 16001; ++i) samples.push_back(static_cast<int>(std::lround(16000 * std::sin(2 * std::numbers::pi * frequency * i / 8000))));
        const Converted encoded = convert(Mode::Encode, test::wave(1, 8000, 16, samples));
        const Converted decoded = convert(Mode::Decode, encoded.output);
        const std::vector<std::int16_t> back = samplesOf(decoded.output);
        ASSERT_EQ(back.size(), 16000u);
        EXPECT_GT(test::snrDb(samples, back, {.atStart = 100}), bound) << frequency << " Hz";  // past the codec's attack
    }
}

// The bundled recording (44.1 kHz stereo speech): its message is pinned byte for byte, so a
// build whose arithmetic differs (optimisation level, target, compiler) fails here; and the
// decoded message must stay close to the rate-converted input the codec was given.
TEST(RoundTrip, BundledSample) {
    const Bytes wave = test::readFile(AAMSG_SAMPLE_DIR "/thank-you.wav");
    ASSERT_EQ(wave.size(), 792188u);
    const Converted encoded = convert(Mode::Encode, wave);
    ASSERT_EQ(encoded.result, kOk);
    EXPECT_EQ(encoded.output, test::readFile(AAMSG_TEST_DATA "/thank-you.msg"));

    std::vector<double> mixed;
    for (std::size_t i = 44; i + 3 < wave.size(); i += 4) {
        mixed.push_back(static_cast<double>(static_cast<std::int16_t>(wave[i] | wave[i + 1] << 8)) +
                        static_cast<std::int16_t>(wave[i + 2] | wave[i + 3] << 8));
    }
    const std::vector<int> resampled = referenceResample(mixed, 44100);
    const std::vector<std::int16_t> decoded = samplesOf(convert(Mode::Decode, encoded.output).output);
    ASSERT_EQ(decoded.size(), resampled.size() & ~std::size_t{1});
    EXPECT_GT(test::snrDb(resampled, decoded), 18.0);  // measured: 19.5 dB
}

}  // namespace
}  // namespace aamsg
