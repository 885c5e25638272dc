// The search's state, shared by its driver (search.cpp) and the beam step, which is compiled
// once for each instruction set the search can run on (beam_step.inc).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "codec/adpcm.hpp"
#include "search/instruction_sets.hpp"
#include "search/search.hpp"

namespace aamsg::inline AAMSG_SEARCH_BUILD::beam {

inline constexpr std::size_t kMaxPaths = kMaxSearchPaths;
inline constexpr std::size_t kMaxCandidates = kMaxPaths * kMaxSearchTries;

// A path's weighting memory is a ring of this many entries, written at the sample count modulo
// its length, so that a path that goes on in its parent's place moves nothing.
inline constexpr std::size_t kRing = 16;
static_assert(kRing >= kWeightOrder && std::has_single_bit(kRing));

// Each path knows its place among the paths in the order of their undecided codes, and a
// candidate (a path and a code) is named by its tie: that place * 16 + code, which orders
// candidates as their codes would. Costs and ranks are packed above it, so that one unsigned
// comparison orders candidates strictly: a cost is less than 2^46 (all paths share every decided
// code, so costs differ by at most 33 squared weighted errors of at most 2^20 + 2^16 each, and
// the least is taken off at each decision).
inline constexpr int kTieBits = std::bit_width(kMaxPaths - 1) + 4;
inline constexpr int kCostBits = 46;
static_assert(kTieBits + kCostBits <= 64);
inline constexpr std::uint64_t kTieMask = (std::uint64_t{1} << kTieBits) - 1;
inline constexpr int kPlaceBits = kTieBits - 4;

// A path's last codes, the newest lowest: two words of 16.
struct Pending {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
};
static_assert(kSearchDelay == 32);

inline Pending push(const Pending& codes, unsigned code) { return {codes.high << 4 | codes.low >> 60, codes.low << 4 | code}; }
inline unsigned oldest(std::uint64_t high) { return static_cast<unsigned>(high >> 60); }
inline unsigned codeAt(const Pending& codes, std::size_t age) {
    return static_cast<unsigned>((age < 16 ? codes.low >> (4 * age) : codes.high >> (4 * (age - 16))) & 15u);
}

// A path's weighting memory: errors and weighted errors, ring-indexed.
struct History {
    alignas(64) std::array<std::int32_t, kRing> error{};
    std::array<std::int32_t, kRing> weighted{};
};

// The kept paths, in no particular order; each knows its place in the order of their pending
// codes, and owns one slot of the history pool.
struct Beam {
    std::size_t count = 0;
    std::size_t places = 1;  // places are below this: the paths' count when they were made
    alignas(64) std::array<std::int32_t, kMaxPaths> predictor{};
    alignas(64) std::array<std::int32_t, kMaxPaths> stepIndex{};
    alignas(64) std::array<std::uint64_t, kMaxPaths> cost{};  // error since the last decision, less the least
    alignas(64) std::array<std::uint64_t, kMaxPaths> rank{};  // cost and the greedy encoder's error ahead
    alignas(64) std::array<std::uint64_t, kMaxPaths> pendingHigh{};
    alignas(64) std::array<std::uint64_t, kMaxPaths> pendingLow{};
    alignas(64) std::array<std::uint32_t, kMaxPaths> slot{};
    alignas(64) std::array<std::int32_t, kMaxPaths> place{};  // distinct, below kMaxPaths
};

// Moves path `from` into place `to`: a path's fields go together.
inline void movePath(Beam& beam, std::size_t to, std::size_t from) {
    beam.predictor[to] = beam.predictor[from];
    beam.stepIndex[to] = beam.stepIndex[from];
    beam.cost[to] = beam.cost[from];
    beam.rank[to] = beam.rank[from];
    beam.pendingHigh[to] = beam.pendingHigh[from];
    beam.pendingLow[to] = beam.pendingLow[from];
    beam.slot[to] = beam.slot[from];
    beam.place[to] = beam.place[from];
}

// The path of least rank, and of those the first in the order of codes: the one whose codes the
// search keeps. The least key, then where it is (keys differ): two loops that vectorise.
inline std::size_t bestPath(const Beam& beam) {
    const auto key = [&](std::size_t p) { return beam.rank[p] << kPlaceBits | static_cast<std::uint64_t>(beam.place[p]); };
    std::uint64_t least = key(0);
    for (std::size_t p = 1; p < beam.count; ++p) least = std::min(least, key(p));
    std::size_t best = 0;
    while (key(best) != least) ++best;
    return best;
}

// A merge cell is a step index above a predictor's bucket: predictors, offset to count from 0,
// span 16 bits, of which the top 16 - mergeShift name the bucket.
inline constexpr int kPredictorBits = 16;
inline constexpr std::int32_t kPredictorOffset = 32768;
inline int bucketBits(int mergeShift) { return kPredictorBits - mergeShift; }

// A path that takes the greedy encoder's code at every sample, beside the beam whatever its
// cost: the search can always fall back to it. When a decision goes against it, it restarts
// from the best path.
struct Shadow {
    AdpcmState state;
    std::uint64_t cost = 0;
    std::uint64_t rank = 0;
    Pending pending;
    History history;
};

// One sample's work: the extensions of every path, packed (cost above tie) with their merge
// cells; the cells' best; their ranks.
struct Scratch {
    alignas(64) std::array<std::int32_t, kMaxPaths> feedback{};
    alignas(64) std::array<std::int32_t, kMaxPaths> greedy{};
    alignas(64) std::array<std::uint64_t, kMaxCandidates + 1> key{};  // the last: no candidate
    alignas(64) std::array<std::int32_t, kMaxCandidates> cell{};
    // 1 for each candidate that holds its merge cell so far; the last: an empty cell's.
    alignas(64) std::array<std::uint8_t, kMaxCandidates + 1> holds{};
    // Survivors: whole vectors are stored past the last, so each has a vector's room more.
    alignas(64) std::array<std::uint64_t, kMaxCandidates + 16> survivor{};  // packed cost and tie
    alignas(64) std::array<std::int32_t, kMaxCandidates> value{};  // the predictor each makes
    alignas(64) std::array<std::int32_t, kMaxCandidates + 16> survivorCell{};
    alignas(64) std::array<std::int32_t, kMaxCandidates + 16> survivorValue{};
    alignas(64) std::array<std::int32_t, kMaxCandidates + 16> survivorParent{};  // its parent's index
    alignas(64) std::array<std::uint64_t, kMaxCandidates> rank{};  // packed rank and tie
    alignas(64) std::array<std::uint64_t, kMaxCandidates> select{};
    alignas(64) std::array<std::uint64_t, kMaxCandidates + 8> below{};  // the selection's partitions
    alignas(64) std::array<std::uint64_t, kMaxCandidates + 8> above{};
    alignas(64) std::array<std::uint32_t, kMaxCandidates> kept{};  // the survivors kept
    std::array<std::uint8_t, kMaxPaths> hasChild{};
    // The kept ties, one bit each, and how many bits precede each word: the kept paths' places.
    std::array<std::uint64_t, kMaxPaths * 16 / 64> keptTies{};
    std::array<std::uint32_t, kMaxPaths * 16 / 64> keptBefore{};
    // Rotated weighting coefficients: the one for the history entry at each ring position.
    alignas(64) std::array<std::int32_t, kRing> zeros{};
    alignas(64) std::array<std::int32_t, kRing> poles{};
};

// A merge cell holds the index of its best candidate so far; small, so that the table stays close
// to the processor. An empty cell holds kMaxCandidates, whose key is the greatest.
using CellEntry = std::conditional_t<(kMaxCandidates < 65536), std::uint16_t, std::uint32_t>;
inline constexpr auto kEmptyCell = static_cast<CellEntry>(kMaxCandidates);

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD::beam

namespace aamsg::inline AAMSG_SEARCH_BUILD {

struct SearchState {
    SearchSettings settings;
    BeamStep step = nullptr;
    std::uint64_t searched = 0;
    // The last sample's least rank not kept, as the first guess for the next: a hint for speed
    // only, which no code depends on.
    std::uint64_t lastThreshold = 0;
    FrameWindow frame;
    WeightingFilter filter;
    std::array<beam::Beam, 2> beams;  // the paths now, and the next sample's being made
    std::size_t current = 0;
    beam::Shadow shadow;
    std::array<beam::History, beam::kMaxPaths> pool;
    std::array<std::uint32_t, beam::kMaxPaths> freeSlots{};
    std::size_t freeCount = 0;
    beam::Scratch scratch;
    // The candidate of least packed cost in each merge cell (step index, predictor bucket),
    // indexed directly: a cell is found with one load. Empty between samples: each sample
    // empties the cells it filled. One entry more than there are cells, so that a wider load
    // of the last stays inside.
    std::vector<beam::CellEntry> cells;
};

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD
