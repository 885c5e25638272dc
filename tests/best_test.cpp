// `q`'s conversion around the search: never worse than the greedy encoder (a second pass where
// it would have been), channels averaged, clipping counted, the same bytes with or without the
// input thread, and refusals and failures, on files made in memory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "codec/adpcm.hpp"
#include "convert/convert.hpp"
#include "search_support.hpp"
#include "signals.hpp"
#include "support.hpp"
#include "wave_builder.hpp"

namespace aamsg {
namespace {

using test::kFlat;
using test::kShaped;
using test::kWeak;
using test::meteredError;
using test::NamedSignal;
using test::signals;

BestOptions optionsOf(const SearchSettings& search, bool background = true) {
    BestOptions options;
    options.search = &search;
    options.background = background;
    return options;
}

using test::decodeMessage;
using test::greedyCodes;
using test::messageOf;

test::Converted encodeBest(const test::Bytes& file, BestOptions options = {}, const test::Faults& faults = {}) {
    Request request;
    request.mode = Mode::Best;
    request.best = options;
    return test::convert(request, file, faults);
}

// At 8000 per second the signal reaches the search as it is; whatever the search does, the
// message must decode no further from it than the greedy encoder's would, by the search's own
// measure (weighted, when it shapes the noise).
TEST(Best, NeverWorseThanGreedy) {
    const SearchSettings settings[] = {kShaped, kFlat, kWeak};
    int recoded = 0;
    for (const NamedSignal& s : signals()) {
        const std::vector<int> values(s.samples.begin(), s.samples.end());
        const test::Bytes wave = test::wave(1, 8000, 16, values);
        const std::vector<std::uint8_t> greedy = greedyCodes(s.samples);
        for (const SearchSettings& setting : settings) {
            const test::Converted run = encodeBest(wave, optionsOf(setting));
            ASSERT_EQ(run.result, kOk) << s.name;
            std::vector<std::uint8_t> codes;
            for (const std::uint8_t byte : run.output) codes.insert(codes.end(), {std::uint8_t(byte >> 4), std::uint8_t(byte & 15u)});
            ASSERT_EQ(codes.size(), s.samples.size()) << s.name;
            EXPECT_LE(meteredError(setting, s.samples, codes), meteredError(setting, s.samples, greedy)) << s.name << " " << setting.paths;
            if (run.outcome.stats.codes == WrittenCodes::kGreedy) {
                ++recoded;
                EXPECT_EQ(run.output, messageOf(greedy)) << s.name;
            }
        }
    }
    // The faint tone at the band's edge is one where the narrow search loses to the greedy
    // encoder, so the second pass is exercised here.
    EXPECT_GT(recoded, 0);
}

// Runs q from memory into `out`, as the library does into a file or a stream.
Outcome encodeInto(OutStream out, const test::Bytes& wave) {
    Request request;
    request.mode = Mode::Best;
    request.best = optionsOf(kWeak);
    InStream in = memoryInput(wave);
    ProgressReport progress;
    return runConversion(request, in, out, progress);
}

Outcome encodeInto(std::FILE* file, const test::Bytes& wave) { return encodeInto(fileOutput(file), wave); }

// Where the greedy encoder wins, its codes are written over the search's in a second pass, and
// the file is cut to what that pass wrote; an output that cannot go back (a pipe) keeps the
// search's codes, and the result says which were written.
TEST(Best, SecondPassOnAFileAndOnAPipe) {
    const std::vector<NamedSignal> all = signals();
    const NamedSignal& faint = all[1];
    ASSERT_EQ(faint.name, "tone_3400_faint");
    const test::Bytes wave = test::wave(1, 8000, 16, std::vector<int>(faint.samples.begin(), faint.samples.end()));
    const test::Bytes greedy = messageOf(greedyCodes(faint.samples));

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::vector<std::uint8_t> stale(3 * greedy.size(), 0x5A);  // what a longer file held before
    // Written past the stream, which is not to have done any I/O before it is set up.
    ASSERT_EQ(write(fileno(file), stale.data(), static_cast<unsigned>(stale.size())), static_cast<ssize_t>(stale.size()));
    ASSERT_EQ(lseek(fileno(file), 0, SEEK_SET), 0);
    const int fd = dup(fileno(file));
    const Outcome filed = encodeInto(file, wave);
    ASSERT_EQ(filed.status, kOk);
    ASSERT_EQ(filed.stats.codes, WrittenCodes::kGreedy);
    std::FILE* written = fdopen(fd, "rb");
    std::rewind(written);
    test::Bytes bytes(stale.size());
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), written));
    std::fclose(written);
    EXPECT_EQ(bytes, greedy);

    // A stream's message, held in a file until it is final: what is handed on is what the
    // second pass wrote, though the held file still holds more of the first one's.
    std::FILE* heldFile = std::tmpfile();
    ASSERT_NE(heldFile, nullptr);
    ASSERT_EQ(std::fwrite(stale.data(), 1, stale.size(), heldFile), stale.size());
    ASSERT_EQ(std::fseek(heldFile, 0, SEEK_SET), 0);
    HeldBytes held{heldFile};
    const Outcome heldOutcome = encodeInto(heldOutput(held), wave);
    ASSERT_EQ(heldOutcome.status, kOk);
    EXPECT_EQ(heldOutcome.stats.codes, WrittenCodes::kGreedy);
    std::vector<std::uint8_t> released;
    ASSERT_TRUE(releaseHeld(held, memoryOutput(released).sink));
    std::fclose(heldFile);
    EXPECT_EQ(released, greedy);

#ifndef _WIN32  // Windows's C runtime may report a seek on a pipe as done
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    test::Bytes piped;
    std::thread reader([&] {
        std::uint8_t buffer[4096];
        for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) piped.insert(piped.end(), buffer, buffer + n);
        close(ends[0]);
    });
    const Outcome pipedOutcome = encodeInto(fdopen(ends[1], "wb"), wave);
    reader.join();
    EXPECT_EQ(pipedOutcome.status, kOk);
    EXPECT_EQ(pipedOutcome.stats.codes, WrittenCodes::kSearch);
    EXPECT_EQ(piped.size(), greedy.size());
    EXPECT_NE(piped, greedy);
#endif
}

test::Bytes floatWave(std::uint16_t channels, std::uint32_t rate, const std::vector<float>& samples) {
    test::Bytes data;
    for (const float f : samples) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, 4);
        test::appendU32(data, bits);
    }
    const auto align = static_cast<std::uint16_t>(channels * 4);
    return test::riff({{"fmt ", test::fmtBody(3, channels, rate, align, 32)}, {"data", data}});
}

// Channels are averaged, whatever their number; the average is what the search sees.
TEST(Best, ChannelsAreAveraged) {
    std::vector<int> mono;
    std::vector<int> twice;
    std::vector<int> opposite;
    std::vector<int> six;
    for (int i = 0; i < 8000; ++i) {
        const int v = static_cast<int>(9000 * std::sin(i * 0.07));
        mono.push_back(v);
        twice.insert(twice.end(), {v, v});
        opposite.insert(opposite.end(), {v, -v});
        for (int c = 0; c < 6; ++c) six.push_back(c < 3 ? 2 * v : 0);  // averages to v
    }
    const test::Converted reference = encodeBest(test::wave(1, 8000, 16, mono));
    ASSERT_EQ(reference.result, kOk);
    EXPECT_EQ(encodeBest(test::wave(2, 8000, 16, twice)).output, reference.output);
    EXPECT_EQ(encodeBest(test::wave(6, 8000, 16, six)).output, reference.output);
    for (const std::int16_t s : decodeMessage(encodeBest(test::wave(2, 8000, 16, opposite)).output)) ASSERT_EQ(s, 0);
}

// Above full scale is held at full scale and counted, never wrapped; NaN too.
TEST(Best, LoudFloatIsClippedAndCounted) {
    std::vector<float> samples;
    for (int i = 0; i < 4000; ++i) samples.push_back(1.5f * static_cast<float>(std::sin(i * 0.01)));
    samples[100] = std::numeric_limits<float>::quiet_NaN();
    const test::Converted run = encodeBest(floatWave(1, 8000, samples));
    ASSERT_EQ(run.result, kOk);
    const BestStats& stats = run.outcome.stats;
    EXPECT_EQ(stats.samples, 4000u);
    EXPECT_GT(stats.clipped, 1000u);
    const std::vector<std::int16_t> decoded = decodeMessage(run.output);
    for (std::size_t i = 110; i < 220; ++i) EXPECT_GT(decoded[i], 25000) << i;  // the first crest, not wrapped
}

// The input thread changes nothing; the console shows the whole input passing, as for `e`.
TEST(Best, SameBytesWithOrWithoutTheInputThread) {
    std::vector<int> stereo;
    for (int i = 0; i < 2 * 44100; ++i) stereo.push_back(static_cast<int>(12000 * std::sin(i * 0.013) * std::sin(i * 0.0007)));
    const test::Bytes wave = test::wave(2, 44100, 16, stereo);
    const test::Converted threaded = encodeBest(wave, optionsOf(kShaped, true));
    const test::Converted inline_ = encodeBest(wave, optionsOf(kShaped, false));
    ASSERT_EQ(threaded.result, kOk);
    EXPECT_EQ(threaded.output, inline_.output);
    EXPECT_EQ(threaded.console, inline_.console);
    std::string expected = "\r\nProgress: 0%";
    for (int p = 1; p <= 100; ++p) expected += "\rProgress: " + std::to_string(p) + "%";
    EXPECT_EQ(threaded.console, expected + "\r\nTotal time: 0m 1s\r\n");
    EXPECT_NEAR(static_cast<double>(threaded.output.size()), 44100 / 2 * 8000 / 44100.0, 2);
}

TEST(Best, RefusalsAndFailures) {
    const test::Bytes wave = test::wave(1, 16000, 16, std::vector<int>(32000, 1000));
    test::Bytes cut = wave;
    cut.resize(cut.size() / 2);  // the data chunk still claims all of it
    std::mt19937 random(3);
    test::Bytes noise(5000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    const std::string text = "Thank you for calling.\n";
    struct Case {
        const char* name;
        test::Bytes file;
        Status expected;
    };
    const Case cases[] = {
        {"empty", {}, kNotAudioFile},
        {"text", test::Bytes(text.begin(), text.end()), kNotAudioFile},
        {"noise", noise, kNotAudioFile},
        {"cut", cut, kCorrupted},
    };
    for (const Case& c : cases) {
        const test::Converted run = encodeBest(c.file);
        EXPECT_EQ(run.result, c.expected) << c.name;
        if (c.expected == kNotAudioFile) {
            EXPECT_TRUE(run.output.empty() && run.console.empty()) << c.name;
        }
    }
    // What arrived before the cut is encoded: about half of the whole message.
    const test::Converted whole = encodeBest(wave);
    const test::Converted part = encodeBest(cut);
    EXPECT_NEAR(static_cast<double>(part.output.size()), static_cast<double>(whole.output.size()) / 2, 20);
    EXPECT_EQ(part.console.find("Total time"), std::string::npos);

    const auto failing = [&](std::uint64_t outputCapacity, std::uint64_t failReadAt) {
        return encodeBest(wave, {}, {kDefaultBlockSize, outputCapacity, failReadAt}).result;
    };
    EXPECT_EQ(failing(100, UINT64_MAX), kCannotWriteOutput);
    EXPECT_EQ(failing(UINT64_MAX, 30000), kCannotReadInput);
    EXPECT_EQ(failing(UINT64_MAX, 20), kCannotReadInput);
}

}  // namespace
}  // namespace aamsg
