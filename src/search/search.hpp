// The code search of `q`: chooses the message codes that the format's decoder, from its fixed
// start state and with its exact arithmetic, turns into the samples closest to the signal in
// squared error. A beam over the decoder's state (predictor, step index): each sample extends
// every kept path by three codes, ranks the extensions by their error so far plus the error
// the greedy encoder would make from them over the next few samples, merges extensions that
// reach nearly the same state, and keeps the best. Codes are decided a fixed number of samples
// late, so memory stays bounded. Integer arithmetic and a strict order on extensions: the same
// signal gives the same codes on every platform and at every optimisation level.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace aamsg {

// The quality/time trade-off, measured in docs/quality.md.
inline constexpr int kDefaultSearchPaths = 1;
inline constexpr int kDefaultSearchLookahead = 4;
inline constexpr int kMaxSearchPaths = 16;
inline constexpr int kMaxSearchLookahead = 8;

// Codes are decided this many samples after their sample is searched: every surviving path
// then agrees on them. One path's undecided codes fill one 64-bit word.
inline constexpr std::size_t kSearchDelay = 16;

// Each path is extended by three codes a sample.
inline constexpr int kExtensions = 3;
inline constexpr int kMaxExtensions = kExtensions * kMaxSearchPaths;

// The kept paths, best ranked first.
struct SearchPaths {
    int count = 0;
    std::array<std::int32_t, kMaxSearchPaths> predictor{};
    std::array<std::int32_t, kMaxSearchPaths> stepIndex{};
    std::array<std::uint64_t, kMaxSearchPaths> cost{};     // squared error since the last decision
    std::array<std::uint64_t, kMaxSearchPaths> pending{};  // undecided codes, the newest lowest
    std::array<std::uint64_t, kMaxSearchPaths> rank{};     // as the paths were chosen
};

// A path that takes the greedy encoder's code at every sample, kept beside the beam whatever its
// rank, so that the search can always fall back to it: a short look ahead can prefer codes that
// lead a steady tone into a rut the greedy encoder avoids. When a decision goes against it, it
// restarts from the decided path. Its look ahead is its own future, so it is kept and extended by
// one sample at a time.
struct GreedyShadow {
    std::int32_t predictor = 0;
    std::int32_t stepIndex = 0;
    std::uint64_t cost = 0;
    std::uint64_t pending = 0;
    std::uint64_t rank = 0;
    // The look ahead's states worked out so far: a ring from `first`, `known` long, and the sum
    // of their errors.
    static constexpr std::size_t kRing = 16;
    static_assert(kRing > kMaxSearchLookahead && (kRing & (kRing - 1)) == 0);
    int known = 0;
    std::size_t first = 0;
    std::uint64_t aheadSum = 0;
    std::array<std::int32_t, kRing> aheadPredictor{};
    std::array<std::int32_t, kRing> aheadStepIndex{};
    std::array<std::uint64_t, kRing> aheadError{};
    std::array<std::uint8_t, kRing> aheadCode{};
};

// One sample's extensions of every path.
struct SearchExtensions {
    std::array<std::int32_t, kMaxExtensions> predictor{};
    std::array<std::int32_t, kMaxExtensions> stepIndex{};
    std::array<std::uint64_t, kMaxExtensions> cost{};
    std::array<std::uint64_t, kMaxExtensions> rank{};  // cost plus the greedy encoder's error ahead
    std::array<std::uint8_t, kMaxExtensions> code{};
};

struct CodeSearch {
    int paths = kDefaultSearchPaths;
    int lookahead = kDefaultSearchLookahead;
    std::uint64_t searched = 0;  // samples searched so far
    // Samples taken, not yet searched: a ring of kWindow, the oldest at `first`.
    static constexpr std::size_t kWindow = kMaxSearchLookahead + 1;
    std::array<std::int16_t, kWindow> window{};
    std::size_t first = 0;
    int waiting = 0;
    std::array<SearchPaths, 2> sides;  // the paths now, and the next sample's being made
    int current = 0;
    GreedyShadow shadow;
    SearchExtensions extensions;
};

// A search from the decoder's start state (predictor 0, step index 0). `paths` is clamped to
// 1..kMaxSearchPaths, `lookahead` to 0..kMaxSearchLookahead.
CodeSearch makeCodeSearch(int paths = kDefaultSearchPaths, int lookahead = kDefaultSearchLookahead);

// Takes the samples; writes the codes decided on the way (one per sample, kSearchDelay plus
// the lookahead samples late) to `codes`, which must have room for samples.size(); returns
// how many.
std::size_t searchSamples(CodeSearch& search, std::span<const std::int16_t> samples, std::uint8_t* codes);

// Searches the samples still waiting and decides every pending code; writes at most
// kSearchDelay + kMaxSearchLookahead + 1 codes to `codes`; returns how many.
std::size_t finishSearch(CodeSearch& search, std::uint8_t* codes);

}  // namespace aamsg
