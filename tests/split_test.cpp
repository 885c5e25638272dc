// `q` with its search split over threads: exactly the bytes, console and outcome of one search
// for any number of threads, on speech (where runs started part way take over) and on noise
// (where they are abandoned), with the input ending at every point of a split, with odd
// layouts, and after failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "convert/convert.hpp"
#include "search/split_search.hpp"
#include "search/search.hpp"
#include "support.hpp"

namespace aamsg {
namespace {

// A boundary every four frames: a second of signal crosses a dozen.
constexpr SplitLayout kSmall{640, 320, 160, 3};

struct Setup {
    unsigned threads = 1;
    SplitLayout layout = kSmall;
    SearchSettings search;
};

test::Converted encode(const test::Bytes& file, const Setup& setup, const test::Faults& faults = {}) {
    Request request;
    request.mode = Mode::Best;
    request.best.threads = setup.threads;
    request.best.split = &setup.layout;
    request.best.search = &setup.search;
    return test::convert(request, file, faults);
}

// The same as one search, whatever the threads did.
void expectSame(const test::Converted& split, const test::Converted& single, const std::string& what) {
    EXPECT_EQ(split.result, single.result) << what;
    EXPECT_EQ(split.output, single.output) << what;
    EXPECT_EQ(split.console, single.console) << what;
    const BestStats& a = split.outcome.stats;
    const BestStats& b = single.outcome.stats;
    EXPECT_EQ(a.codes, b.codes) << what;
    EXPECT_EQ(a.samples, b.samples) << what;
    EXPECT_EQ(a.clipped, b.clipped) << what;
    EXPECT_EQ(a.notNumbers, b.notNumbers) << what;
}

void add(SplitCounts& total, const SplitCounts& counts) {
    total.started += counts.started;
    total.joined += counts.joined;
    total.abandoned += counts.abandoned;
}

// The bundled recording at 8000 per second: its channels averaged and every 5.5th frame kept.
// Aliased, but speech, which is all the split needs.
std::vector<int> speech() {
    const std::vector<std::int16_t> stereo = test::samplesOf(test::readFile(AAMSG_SAMPLE_DIR "/thank-you.wav"));
    std::vector<int> out;
    for (std::size_t i = 0; 2 * (i * 11 / 2) + 1 < stereo.size(); ++i) {
        const std::size_t at = 2 * (i * 11 / 2);
        out.push_back((stereo[at] + stereo[at + 1]) / 2);
    }
    return out;
}

std::vector<int> noise(std::size_t length) {
    std::mt19937 random(11);
    std::normal_distribution<double> gauss(0, 6000);
    std::vector<int> out(length);
    for (int& s : out) s = std::clamp(static_cast<int>(gauss(random)), -32768, 32767);
    return out;
}

// A faint tone at the band's edge, where a narrow flat search loses to the greedy encoder and
// the message is coded again greedily.
std::vector<int> faintTone(std::size_t length) {
    std::vector<int> out(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<int>(std::lround(300 * std::sin(2 * std::numbers::pi * 3400 * static_cast<double>(i) / 8000)));
    }
    return out;
}

SearchSettings flat() {
    SearchSettings settings;
    settings.shaped = false;
    return settings;
}

SearchSettings narrow() {
    SearchSettings settings = flat();
    settings.paths = 2;
    settings.lookahead = 0;
    return settings;
}

// The input ends inside a warm-up, a sample before a boundary, at it, a few samples after it,
// and at each later checkpoint, on speech (shaped and flat), on noise, and on a signal the
// greedy encoder codes better.
TEST(SplitSearch, SameBytesAsOneSearchWhereverTheSignalEnds) {
    struct Source {
        const char* name;
        std::vector<int> samples;
        SearchSettings search;
    };
    const Source sources[] = {
        {"speech", speech(), {}}, {"speech, flat", speech(), flat()}, {"noise", noise(9000), {}}, {"faint tone", faintTone(9000), narrow()}};
    constexpr std::size_t kBoundary = 6 * kSmall.segment;
    const std::size_t ends[] = {kBoundary - kSmall.warmUp + 50, kBoundary - 1, kBoundary, kBoundary + 3, kBoundary + kSmall.spacing,
                                kBoundary + 2 * kSmall.spacing};
    SplitCounts total;
    int greedy = 0;
    for (const Source& source : sources) {
        for (const std::size_t end : ends) {
            const test::Bytes wave = test::wave(1, 8000, 16, std::vector<int>(source.samples.begin(), source.samples.begin() + static_cast<std::ptrdiff_t>(end)));
            const test::Converted single = encode(wave, {1, kSmall, source.search});
            ASSERT_EQ(single.result, kOk);
            greedy += single.outcome.stats.codes == WrittenCodes::kGreedy;
            for (const unsigned threads : {2u, 8u}) {
                const test::Converted split = encode(wave, {threads, kSmall, source.search});
                expectSame(split, single, std::string(source.name) + ", " + std::to_string(end) + " samples, " + std::to_string(threads) + " threads");
                add(total, split.outcome.stats.split);
            }
        }
    }
    // Both ways a run can end were taken, and the second pass too.
    EXPECT_GT(total.joined, 0u);
    EXPECT_GT(total.abandoned, 0u);
    EXPECT_GT(greedy, 0);
}

// Layouts the split has to make usable: nothing given, a warm-up longer than a segment,
// checkpoints beyond it, sizes that are not whole frames.
TEST(SplitSearch, OddLayouts) {
    const std::vector<int> words = speech();
    const test::Bytes wave = test::wave(1, 8000, 16, std::vector<int>(words.begin(), words.begin() + 12000));
    const test::Converted single = encode(wave, {1, kSmall, {}});
    const SplitLayout layouts[] = {{0, 0, 0, 0}, {500, 5000, 100, 50}, {1000, 170, 330, 2}, {640, 320, 160, 1}};
    for (const SplitLayout& layout : layouts) {
        for (const unsigned threads : {2u, 3u, 8u}) {
            const test::Converted split = encode(wave, {threads, layout, {}});
            const std::string what = std::to_string(layout.segment) + ":" + std::to_string(layout.checkpoints) + ", " + std::to_string(threads) + " threads";
            expectSame(split, single, what);
            EXPECT_GT(split.outcome.stats.split.started, 0u) << what;
            // A run that waited at the end of its segment to become certain compares there, at the
            // next run's first checkpoint: with only one, every run started is compared there and
            // taken over or abandoned, none left to run beside the search that decides.
            const SplitCounts& counts = split.outcome.stats.split;
            if (layout.checkpoints == 1) {
                EXPECT_EQ(counts.started, counts.joined + counts.abandoned) << what;
            }
        }
    }
}

// Two seconds of the recording, louder than the format holds, read in several blocks through
// the rate conversion: whole, with a read error, cut short, and onto a disk that fills part
// way, also just after the codes one search decides with the first of 32768 samples. What
// arrived is still encoded, the progress stops where one search's did, and every thread stops.
TEST(SplitSearch, BlocksAndFailuresAsWithOneSearch) {
    const std::vector<std::int16_t> stereo = test::samplesOf(test::readFile(AAMSG_SAMPLE_DIR "/thank-you.wav"));
    std::vector<int> loud;
    for (std::size_t i = 0; i < 2 * 88200; ++i) loud.push_back(std::clamp(3 * stereo[i], -32768, 32767));
    const test::Bytes wave = test::wave(2, 44100, 16, loud);
    const test::Bytes words = test::wave(1, 8000, 16, speech());
    test::Bytes cut = wave;
    cut.resize(cut.size() / 2 + 1);  // the data chunk still claims all of it
    struct Case {
        const char* name;
        const test::Bytes* file;
        test::Faults faults;
        Status expected;
    };
    const Case cases[] = {
        {"whole", &wave, {}, kOk},
        {"cut", &cut, {}, kCorrupted},
        {"read error", &wave, {1000, UINT64_MAX, 250001}, kCannotReadInput},
        {"disk full early", &wave, {1000, 100, UINT64_MAX}, kCannotWriteOutput},
        {"disk full late", &wave, {1000, 6000, UINT64_MAX}, kCannotWriteOutput},
        // (32768 / 160 * 160 - 32) / 2 bytes, and a few more
        {"disk full after a block", &words, {1, 16310, UINT64_MAX}, kCannotWriteOutput},
    };
    for (const Case& c : cases) {
        const test::Converted single = encode(*c.file, {1, kSmall, {}}, c.faults);
        ASSERT_EQ(single.result, c.expected) << c.name;
        for (const unsigned threads : {2u, 8u}) expectSame(encode(*c.file, {threads, kSmall, {}}, c.faults), single, c.name);
    }
}

}  // namespace
}  // namespace aamsg
