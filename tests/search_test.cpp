// The code search alone: never worse than the greedy encoder on hard signals by the measure it
// minimises, its noise where the weighting puts it, independent of how the signal is handed
// over, and the same codes from every build of its step.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "codec/adpcm.hpp"
#include "search/search.hpp"
#include "search_support.hpp"
#include "signals.hpp"

namespace aamsg {
namespace {

using test::kFlat;
using test::kShaped;
using test::meteredError;
using test::NamedSignal;
using test::searchAll;
using test::settingsOf;
using test::Signal;
using test::signals;
using test::vowel;

std::vector<std::uint8_t> greedyCodes(const Signal& samples) {
    AdpcmState state;
    std::vector<std::uint8_t> codes;
    for (const std::int16_t s : samples) codes.push_back(static_cast<std::uint8_t>(encodeSample(s, state)));
    return codes;
}

// The search alone, on every hard signal: never worse than the greedy encoder by the measure
// it minimises, plain or weighted.
TEST(Search, NeverWorseThanGreedy) {
    for (const NamedSignal& s : signals()) {
        const std::vector<std::uint8_t> greedy = greedyCodes(s.samples);
        for (const SearchSettings& setting : {kShaped, kFlat}) {
            EXPECT_LE(meteredError(setting, s.samples, searchAll(s.samples, setting)), meteredError(setting, s.samples, greedy))
                << s.name << " " << setting.shaped;
        }
    }
}

// Noise power of x - y in a band, from a plain DFT at 2 Hz steps.
double bandNoise(const Signal& x, const std::vector<std::int16_t>& y, double low, double high) {
    double power = 0;
    for (double f = low; f < high; f += 2) {
        double re = 0;
        double im = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double w = 2 * std::numbers::pi * f * static_cast<double>(i) / 8000;
            re += (x[i] - y[i]) * std::cos(w);
            im += (x[i] - y[i]) * std::sin(w);
        }
        power += re * re + im * im;
    }
    return power;
}

std::vector<std::int16_t> decodeCodes(const std::vector<std::uint8_t>& codes) {
    AdpcmState state;
    std::vector<std::int16_t> out;
    for (const std::uint8_t code : codes) out.push_back(decodeNibble(code, state));
    return out;
}

// Shaped, the noise in the vowel's valley between the formants lies lower than flat, and (the
// price) higher under the second formant.
TEST(Search, ShapedNoiseLeavesTheValley) {
    const Signal voice = vowel(8000);
    const std::vector<std::int16_t> shaped = decodeCodes(searchAll(voice, kShaped));
    const std::vector<std::int16_t> flat = decodeCodes(searchAll(voice, kFlat));
    EXPECT_LT(bandNoise(voice, shaped, 1200, 1800), bandNoise(voice, flat, 1200, 1800));
    EXPECT_GT(bandNoise(voice, shaped, 2400, 2600), bandNoise(voice, flat, 2400, 2600));
}

// The weighting alone: without the tilt it dips at the formants, where noise is let in; silence
// gets the tilt alone, and a pure tone (a beep before the recording) no weighting at all.
TEST(Weighting, DipsAtTheFormants) {
    const Signal voice = vowel(kAnalysisLength + 400);
    AnalysisWindow window;
    std::copy(voice.end() - kAnalysisLength, voice.end(), window.begin());
    WeightShape shape;
    shape.tilt = 0;
    const WeightingFilter filter = analyseFrame(window, shape);
    const auto gain = [&](double frequency) {
        std::complex<double> zeros = 1.0;
        std::complex<double> poles = 1.0;
        for (std::size_t k = 0; k < kWeightOrder; ++k) {
            const std::complex<double> delay = std::polar(1.0, -2 * std::numbers::pi * frequency * static_cast<double>(k + 1) / 8000);
            zeros += filter.zeros[k] / 4096.0 * delay;
            poles += filter.poles[k] / 4096.0 * delay;
        }
        return std::abs(zeros / poles);
    };
    EXPECT_LT(gain(500), gain(1500));
    EXPECT_LT(gain(2500), gain(1500));
    WeightingFilter tiltAlone;
    tiltAlone.poles[0] = -WeightShape{}.tilt * 4096 / 1000;
    const WeightingFilter silent = analyseFrame(AnalysisWindow{}, WeightShape{});
    EXPECT_EQ(silent.zeros, tiltAlone.zeros);
    EXPECT_EQ(silent.poles, tiltAlone.poles);
    AnalysisWindow beep;
    for (std::size_t i = 0; i < kAnalysisLength; ++i) beep[i] = static_cast<std::int16_t>(std::lround(8000 * std::sin(static_cast<double>(i) * 0.785)));
    const WeightingFilter tone = analyseFrame(beep, WeightShape{});
    EXPECT_EQ(tone.zeros, WeightingFilter{}.zeros);
    EXPECT_EQ(tone.poles, WeightingFilter{}.poles);
}

TEST(Search, BlocksAndShortSignalsChangeNothing) {
    const Signal chirp = signals()[2].samples;
    for (const SearchSettings& setting : {kShaped, kFlat}) {
        const std::vector<std::uint8_t> whole = searchAll(chirp, setting);
        for (std::size_t block : {std::size_t{1}, std::size_t{5}, std::size_t{161}}) EXPECT_EQ(searchAll(chirp, setting, block), whole) << block;
    }
    // Signals shorter than a frame and the delay still give a code a sample.
    for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{20}, std::size_t{170}, std::size_t{200}}) {
        const Signal part(chirp.begin(), chirp.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(searchAll(part, kShaped).size(), length);
    }
}

// Each build of the search's step that this processor runs gives the scalar step's codes, on
// every hard signal and on settings at the edges: one path and one code, every code tried and
// the widest look ahead, the finest and the coarsest merge, a beam wider than a vector, no margin
// and the narrowest.
class EveryInstructionSet : public testing::TestWithParam<InstructionSet> {};

TEST_P(EveryInstructionSet, GivesTheScalarCodes) {
    const InstructionSet set = GetParam();
    if (beamStepFor(set) == nullptr) {
        GTEST_SKIP() << instructionSetName(set) << ": not on this processor or in this build"
                     << (set == InstructionSet::kSimd128 ? " (the web tests run it under node)" : "");
    }
    std::vector<SearchSettings> settings = {kShaped, kFlat, settingsOf(true, 1, 1, 0),
                                            settingsOf(false, kMaxSearchPaths, kMaxSearchTries, kMaxSearchLookahead),
                                            settingsOf(true, 37, 3, 8)};
    settings[2].mergeShift = 0;
    settings[3].margin = kNoMargin;
    settings[4].mergeShift = 16;
    settings[4].margin = 0;
    std::vector<NamedSignal> all = signals();
    all.push_back({"vowel", vowel(12000)});
    for (const NamedSignal& s : all) {
        for (SearchSettings setting : settings) {
            // Half of each signal; the widest search a tenth: the edges are what they check.
            const std::size_t length = setting.paths == kMaxSearchPaths ? 1200 : s.samples.size() / 2;
            const Signal part(s.samples.begin(), s.samples.begin() + static_cast<std::ptrdiff_t>(length));
            setting.instructionSet = InstructionSet::kScalar;
            const std::vector<std::uint8_t> scalar = searchAll(part, setting);
            setting.instructionSet = set;
            EXPECT_EQ(searchAll(part, setting), scalar) << s.name << " " << setting.paths << " paths";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Search, EveryInstructionSet,
                         testing::Values(InstructionSet::kAvx2, InstructionSet::kAvx512, InstructionSet::kSimd128, InstructionSet::kNeon),
                         [](const testing::TestParamInfo<InstructionSet>& info) { return std::string(instructionSetName(info.param)); });

// Sets (or, with an empty value, removes) a variable of this process's environment.
void setVariable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    if (*value == '\0') unsetenv(name);
    else setenv(name, value, 1);
#endif
}

// AAMSG_SEARCH_ISA forces a set this build and processor have, by its name; any other value
// leaves the widest.
TEST(Search, EnvironmentForcesAnInstructionSet) {
    const InstructionSet widest = widestInstructionSet();
    EXPECT_EQ(bestInstructionSet(), widest);
    for (const InstructionSet set : kInstructionSets) {
        setVariable("AAMSG_SEARCH_ISA", instructionSetName(set));
        EXPECT_EQ(bestInstructionSet(), beamStepFor(set) != nullptr ? set : widest) << instructionSetName(set);
        EXPECT_EQ(instructionSetNamed(instructionSetName(set)), set);
    }
    for (const char* other : {"", "AVX2", "sse2", "scalar "}) {
        setVariable("AAMSG_SEARCH_ISA", other);
        EXPECT_EQ(bestInstructionSet(), widest) << other;
    }
    setVariable("AAMSG_SEARCH_ISA", "");
    EXPECT_EQ(instructionSetName(InstructionSet::kBest), instructionSetName(widest));
}

// The codes of one signal, pinned: a build whose arithmetic or order of choices differs
// (optimisation level, processor, compiler, Windows, WebAssembly) fails here.
TEST(Search, SameCodesOnEveryBuild) {
    std::uint64_t hash = 14695981039346656037u;  // FNV-1a over all signals' codes
    for (const NamedSignal& s : signals()) {
        for (const SearchSettings& setting : {kShaped, kFlat}) {
            for (const std::uint8_t code : searchAll(s.samples, setting)) hash = (hash ^ code) * 1099511628211u;
        }
    }
    EXPECT_EQ(hash, 15239747073064157234u);
}

}  // namespace
}  // namespace aamsg
