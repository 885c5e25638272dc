// The code search of `q`: chooses the message codes that the format's decoder, from its fixed
// start state and with its exact arithmetic, turns into the samples closest to the signal: in
// squared error, or (shaped, the default) in the perceptually weighted error of weighting.hpp.
// A beam over the decoder's state (predictor, step index) and the weighting filter's memory:
// each sample extends every kept path by the greedy code and its neighbours, merges extensions
// whose step index is equal and whose predictors lie close (so that the beam keeps step sizes
// diverse), and keeps the paths whose error so far, plus the greedy encoder's over the next few
// samples, is least. A greedy path runs beside the beam as a fallback. Codes are decided a fixed
// number of samples late, so memory stays bounded. Integer arithmetic and a strict order on
// paths: the same signal gives the same codes on every platform and at every optimisation level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "codec/adpcm.hpp"
#include "search/instruction_sets.hpp"
#include "search/limits.hpp"
#include "search/weighting.hpp"

namespace aamsg {
inline namespace AAMSG_SEARCH_BUILD {

// A setting left at this value takes the mode's default below.
inline constexpr int kModeDefault = -1;
// A margin of this value keeps every path the count allows.
inline constexpr int kNoMargin = -2;
// Paths are dropped by the margin this many at a time: whole vectors of AVX2's 8 lanes (two of
// NEON's or WebAssembly's, half of AVX-512's), so that a narrowed beam still fills them. The same
// on every instruction set, as the codes must be.
inline constexpr int kMarginGranule = 8;

// The quality/time trade-off, measured with bench/search_eval and docs/make-quality.py
// (docs/search.md).
struct SearchSettings {
    bool shaped = true;  // minimise the weighted error; false: the plain squared error
    int paths = kModeDefault;  // paths kept, 1..kMaxSearchPaths
    int tries = kModeDefault;  // codes tried per path and sample, 1..kMaxSearchTries
    // Extensions merge when their step indexes are equal and their predictors fall in one
    // bucket of 2^mergeShift values (0..16).
    int mergeShift = kModeDefault;
    // Paths are ranked by their error and the greedy encoder's plain error over this many
    // samples ahead (0..kMaxSearchLookahead), within the frame.
    int lookahead = kModeDefault;
    // Of the paths, only those whose rank is within this many sixteenths of the square of the
    // best one's step above its rank are kept (rounded up to whole kMarginGranule, at most
    // `paths`): the beam narrows where the sound is easy. 0..65535, or kNoMargin.
    int margin = kModeDefault;
    WeightShape shape;
    // The build of the beam step to run; every one gives the same codes.
    InstructionSet instructionSet = InstructionSet::kBest;
};

struct SearchDefaults {
    int paths;
    int tries;
    int mergeShift;
    int lookahead;
    int margin;
};

// Each mode's defaults (docs/search.md). The flat search needs wide beams to reach the
// exhaustive eight-sample look ahead on every source, and buckets of 256: finer ones raise its
// mean but drop one voice below that. The shaped one gains from buckets of 128 on 21 of the 26
// sources of the quality set, in weighted error and in the frequency-weighted measure, for 7%
// more time; sharply pulsed voices lose a little (1.3 dB on a synthetic vowel, 0.2 dB on the
// lowest male voice), and lose much more with still finer buckets or narrower beams. The margins
// are the narrowest that keep the flat search above the eight-sample look ahead on every source
// (and +0.25 dB in the mean), and the shaped one's PESQ within 0.01 of the full beam's, for 26%
// and 14% fewer instructions on continuous speech, about half on prompts with pauses, three
// quarters in silence. The shaped search tries four codes, flat five: with four, a shaped margin
// of 12 keeps PESQ (from the source files) within 0.004 of five tries at 8 for 10% fewer
// instructions (8 would lose 0.013); the fifth holds one voice of the flat search above
// adpcm-xq -8 -f.
inline constexpr SearchDefaults kShapedDefaults{.paths = 64, .tries = 4, .mergeShift = 7, .lookahead = 3, .margin = 12};
inline constexpr SearchDefaults kFlatDefaults{.paths = 128, .tries = 5, .mergeShift = 8, .lookahead = 3, .margin = 32};

// A code is decided this many samples after its sample is searched.
inline constexpr std::size_t kSearchDelay = 32;

// Samples are searched a frame at a time, once the frame's weighting is known; a code is
// decided at most this many samples after its sample was handed in.
inline constexpr std::size_t kMaxUndecided = kFrameLength + kSearchDelay;

struct SearchState;  // the beam: large, on the heap, allocated once

struct SearchStateDeleter {
    void operator()(SearchState* state) const;
};

struct CodeSearch {
    std::unique_ptr<SearchState, SearchStateDeleter> state;
};

CodeSearch makeCodeSearch(const SearchSettings& settings = {});

// Takes the samples; writes the codes decided on the way (one per sample, in order) to `codes`,
// which must have room for samples.size() + kMaxUndecided; returns how many.
std::size_t searchSamples(CodeSearch& search, std::span<const std::int16_t> samples, std::uint8_t* codes);

// Searches the samples still waiting and decides every pending code; writes at most
// kMaxUndecided codes to `codes`; returns how many. The search then starts again.
std::size_t finishSearch(CodeSearch& search, std::uint8_t* codes);

// Starts the search afresh at a frame boundary inside a signal, as at its start but with the
// kFrameHistory samples before that boundary, which the first frame's weighting needs.
void restartSearchAt(CodeSearch& search, std::span<const std::int16_t, kFrameHistory> history);

// The search's whole state between frames, in a canonical form: two searches over the same
// signal whose snapshots at one frame boundary are equal decide the same codes from there on,
// whatever either saw before. A search started part way through a signal (restartSearchAt)
// usually comes to the same state as the one from the start within a few frames, which is what
// lets a signal be searched in pieces on several threads with the codes of one search.
struct SearchSnapshot {
    std::vector<std::uint64_t> words;
    bool operator==(const SearchSnapshot&) const = default;
};

// Takes the snapshot; only between frames (after searchSamples has completed a frame).
void snapshotSearch(const CodeSearch& search, SearchSnapshot& snapshot);

}  // namespace AAMSG_SEARCH_BUILD
}  // namespace aamsg
