// The beam search over the decoder's state, with a greedy look ahead.
#include "search/search.hpp"

#include <algorithm>

#include "codec/adpcm.hpp"

namespace aamsg {

namespace {

// Extensions with the same step index whose predictors lie within a fraction of a step of each
// other lead to nearly the same futures; keeping only the better one leaves room in the beam
// for paths that really differ. The fraction is 2^-kMergeFraction of the step.
constexpr int kMergeFraction = 2;

constexpr std::array<std::uint8_t, 89> makeMergeShifts() {
    std::array<std::uint8_t, 89> shifts{};
    for (std::size_t i = 0; i < kStepSizes.size(); ++i) {
        int log2 = 0;
        while ((kStepSizes[i] >> (log2 + 1)) != 0) ++log2;
        shifts[i] = static_cast<std::uint8_t>(std::max(0, log2 - kMergeFraction));
    }
    return shifts;
}

constexpr std::array<std::uint8_t, 89> kMergeShifts = makeMergeShifts();

std::uint32_t mergeKey(std::int32_t predictor, std::int32_t stepIndex) {
    return static_cast<std::uint32_t>(stepIndex) << 16 |
           static_cast<std::uint32_t>(predictor + 32768) >> kMergeShifts[static_cast<std::size_t>(stepIndex)];
}

// One greedy code from (predictor, stepIndex) towards `sample`, by the codec itself: the state
// moves, the squared error is added to `error`, and the code comes back.
[[gnu::always_inline]] inline unsigned greedyStep(std::int32_t& predictor, std::int32_t& stepIndex, std::int32_t sample,
                                                 std::uint64_t& error) {
    AdpcmState state{static_cast<std::int16_t>(predictor), stepIndex};
    const unsigned code = encodeSample(static_cast<std::int16_t>(sample), state);
    predictor = state.predictor;
    stepIndex = state.stepIndex;
    const auto e = static_cast<std::int64_t>(sample - predictor);
    error += static_cast<std::uint64_t>(e * e);
    return code;
}

// The shadow's next sample: the first state of its look ahead, and the look ahead moved on by
// one sample.
void extendShadow(GreedyShadow& shadow, std::int32_t sample, const std::int16_t* ahead, int aheadCount) {
    constexpr std::size_t kMask = GreedyShadow::kRing - 1;
    std::uint64_t error = 0;
    unsigned code = 0;
    if (shadow.known > 0) {
        shadow.predictor = shadow.aheadPredictor[shadow.first];
        shadow.stepIndex = shadow.aheadStepIndex[shadow.first];
        error = shadow.aheadError[shadow.first];
        code = shadow.aheadCode[shadow.first];
        shadow.aheadSum -= error;
        shadow.first = (shadow.first + 1) & kMask;
        --shadow.known;
    } else {
        code = greedyStep(shadow.predictor, shadow.stepIndex, sample, error);
    }
    shadow.cost += error;
    shadow.pending = shadow.pending << 4 | code;
    // At the end the look ahead shrinks: what lies beyond it is forgotten.
    while (shadow.known > aheadCount) {
        --shadow.known;
        shadow.aheadSum -= shadow.aheadError[(shadow.first + static_cast<std::size_t>(shadow.known)) & kMask];
    }
    for (int j = shadow.known; j < aheadCount; ++j) {
        const std::size_t at = (shadow.first + static_cast<std::size_t>(j)) & kMask;
        const std::size_t before = (at - 1) & kMask;
        std::int32_t predictor = j == 0 ? shadow.predictor : shadow.aheadPredictor[before];
        std::int32_t stepIndex = j == 0 ? shadow.stepIndex : shadow.aheadStepIndex[before];
        std::uint64_t stepError = 0;
        shadow.aheadCode[at] = static_cast<std::uint8_t>(greedyStep(predictor, stepIndex, ahead[j], stepError));
        shadow.aheadPredictor[at] = predictor;
        shadow.aheadStepIndex[at] = stepIndex;
        shadow.aheadError[at] = stepError;
        shadow.aheadSum += stepError;
    }
    shadow.known = aheadCount;
    shadow.rank = shadow.cost + shadow.aheadSum;
}

// The shadow restarts from a kept path, and works out its look ahead anew.
void restartShadow(GreedyShadow& shadow, const SearchPaths& paths, std::size_t p) {
    shadow.predictor = paths.predictor[p];
    shadow.stepIndex = paths.stepIndex[p];
    shadow.cost = paths.cost[p];
    shadow.pending = paths.pending[p];
    shadow.known = 0;
    shadow.aheadSum = 0;
}

// Extends every path by three codes, ranks the extensions, and keeps the `paths` best of them,
// one for each merge key.
void extend(CodeSearch& search, std::int32_t sample, const std::int16_t* ahead, int aheadCount) {
    const SearchPaths& from = search.sides[static_cast<std::size_t>(search.current)];
    SearchPaths& to = search.sides[static_cast<std::size_t>(1 - search.current)];
    SearchExtensions& x = search.extensions;
    const int count = from.count * kExtensions;
    for (int i = 0; i < from.count; ++i) {
        const auto p = static_cast<std::size_t>(i);
        const AdpcmState parent{static_cast<std::int16_t>(from.predictor[p]), from.stepIndex[p]};
        const unsigned code = greedyCode(sample, parent);
        const unsigned sign = code & 8u;
        const unsigned greedy = code & 7u;
        // The greedy code, the next larger magnitude (a faster-growing step) and the next smaller
        // one, or at zero the smallest step the other way. Codes further off never paid for their
        // place in measurements. At magnitude 7 the second is the first again; it merges with it.
        const unsigned codes[kExtensions] = {sign | greedy, sign | std::min(greedy + 1, 7u),
                                             greedy > 0 ? sign | (greedy - 1) : sign ^ 8u};
        for (int k = 0; k < kExtensions; ++k) {
            const auto e = p * kExtensions + static_cast<std::size_t>(k);
            AdpcmState next = parent;
            const std::int32_t value = decodeNibble(codes[k], next);
            const auto error = static_cast<std::int64_t>(sample - value);
            x.predictor[e] = value;
            x.stepIndex[e] = next.stepIndex;
            x.cost[e] = from.cost[p] + static_cast<std::uint64_t>(error * error);
            x.code[e] = static_cast<std::uint8_t>(codes[k]);
        }
    }
    // Each extension's future: the greedy encoder's error over the samples ahead, one sample at a
    // time across all extensions, whose chains are independent and so run side by side.
    std::array<std::int32_t, kMaxExtensions> predictor;
    std::array<std::int32_t, kMaxExtensions> stepIndex;
    for (int i = 0; i < count; ++i) {
        const auto e = static_cast<std::size_t>(i);
        predictor[e] = x.predictor[e];
        stepIndex[e] = x.stepIndex[e];
        x.rank[e] = x.cost[e];
    }
    for (int j = 0; j < aheadCount; ++j) {
        for (int i = 0; i < count; ++i) {
            const auto e = static_cast<std::size_t>(i);
            greedyStep(predictor[e], stepIndex[e], ahead[j], x.rank[e]);
        }
    }

    // The best `paths` by rank, earlier extensions first on equal rank; of extensions with one
    // merge key only the best. Selection by insertion: the lists are a few dozen long.
    std::array<int, kMaxSearchPaths + 1> chosen;
    std::array<std::uint32_t, kMaxSearchPaths + 1> chosenKey;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const auto e = static_cast<std::size_t>(i);
        const std::uint64_t rank = x.rank[e];
        if (kept == search.paths && rank >= x.rank[static_cast<std::size_t>(chosen[static_cast<std::size_t>(kept - 1)])]) {
            continue;
        }
        const std::uint32_t key = mergeKey(x.predictor[e], x.stepIndex[e]);
        int at = kept;  // where a same-key extension sits, or the end
        for (int j = 0; j < kept; ++j) {
            if (chosenKey[static_cast<std::size_t>(j)] == key) at = j;
        }
        if (at < kept) {
            if (x.rank[static_cast<std::size_t>(chosen[static_cast<std::size_t>(at)])] <= rank) continue;
        } else if (kept < search.paths) {
            ++kept;
        } else {
            at = kept - 1;  // the worst kept one makes room
        }
        // Move worse-ranked entries down over slot `at`, then place this one.
        int slot = at;
        while (slot > 0 && x.rank[static_cast<std::size_t>(chosen[static_cast<std::size_t>(slot - 1)])] > rank) {
            chosen[static_cast<std::size_t>(slot)] = chosen[static_cast<std::size_t>(slot - 1)];
            chosenKey[static_cast<std::size_t>(slot)] = chosenKey[static_cast<std::size_t>(slot - 1)];
            --slot;
        }
        chosen[static_cast<std::size_t>(slot)] = i;
        chosenKey[static_cast<std::size_t>(slot)] = key;
    }
    for (int j = 0; j < kept; ++j) {
        const auto k = static_cast<std::size_t>(j);
        const auto e = static_cast<std::size_t>(chosen[k]);
        to.predictor[k] = x.predictor[e];
        to.stepIndex[k] = x.stepIndex[e];
        to.cost[k] = x.cost[e];
        to.rank[k] = x.rank[e];
        to.pending[k] = from.pending[e / kExtensions] << 4 | x.code[e];
    }
    to.count = kept;
    search.current = 1 - search.current;
}

// Decides the oldest pending code: that of the best-ranked path, or of the shadow if it ranks
// better still. Paths that disagree are dropped (the shadow restarts from the decided path), and
// costs restart from the lowest, since only their differences matter.
std::uint8_t decideOldest(SearchPaths& paths, GreedyShadow& shadow) {
    constexpr unsigned kOldest = 4 * (kSearchDelay - 1);
    const bool byShadow = shadow.rank < paths.rank[0];
    const auto code = static_cast<unsigned>((byShadow ? shadow.pending : paths.pending[0]) >> kOldest) & 15u;
    int kept = 0;
    for (int i = 0; i < paths.count; ++i) {
        const auto p = static_cast<std::size_t>(i);
        if ((static_cast<unsigned>(paths.pending[p] >> kOldest) & 15u) != code) continue;
        const auto k = static_cast<std::size_t>(kept++);
        paths.predictor[k] = paths.predictor[p];
        paths.stepIndex[k] = paths.stepIndex[p];
        paths.cost[k] = paths.cost[p];
        paths.rank[k] = paths.rank[p];
        paths.pending[k] = paths.pending[p];
    }
    paths.count = kept;
    if (kept == 0) {
        // Only the shadow agrees: the beam goes on from it.
        paths.count = 1;
        paths.predictor[0] = shadow.predictor;
        paths.stepIndex[0] = shadow.stepIndex;
        paths.cost[0] = shadow.cost;
        paths.rank[0] = shadow.rank;
        paths.pending[0] = shadow.pending;
    } else if ((static_cast<unsigned>(shadow.pending >> kOldest) & 15u) != code) {
        restartShadow(shadow, paths, 0);
    }
    std::uint64_t lowest = shadow.cost;
    for (int i = 0; i < paths.count; ++i) lowest = std::min(lowest, paths.cost[static_cast<std::size_t>(i)]);
    for (int i = 0; i < paths.count; ++i) {
        paths.cost[static_cast<std::size_t>(i)] -= lowest;
        paths.rank[static_cast<std::size_t>(i)] -= lowest;
    }
    shadow.cost -= lowest;
    shadow.rank -= lowest;
    return static_cast<std::uint8_t>(code);
}

// Searches the oldest waiting sample, looking ahead at the `aheadCount` samples after it.
std::size_t searchOldest(CodeSearch& search, int aheadCount, std::uint8_t* codes) {
    std::size_t written = 0;
    if (search.searched >= kSearchDelay) {
        codes[written++] = decideOldest(search.sides[static_cast<std::size_t>(search.current)], search.shadow);
    }
    std::int16_t ahead[kMaxSearchLookahead];
    for (int j = 0; j < aheadCount; ++j) {
        ahead[j] = search.window[(search.first + 1 + static_cast<std::size_t>(j)) % CodeSearch::kWindow];
    }
    extend(search, search.window[search.first], ahead, aheadCount);
    extendShadow(search.shadow, search.window[search.first], ahead, aheadCount);
    ++search.searched;
    search.first = (search.first + 1) % CodeSearch::kWindow;
    --search.waiting;
    return written;
}

}  // namespace

CodeSearch makeCodeSearch(int paths, int lookahead) {
    CodeSearch search;
    search.paths = std::clamp(paths, 1, kMaxSearchPaths);
    search.lookahead = std::clamp(lookahead, 0, kMaxSearchLookahead);
    search.sides[0].count = 1;  // the decoder's start state
    return search;
}

std::size_t searchSamples(CodeSearch& search, std::span<const std::int16_t> samples, std::uint8_t* codes) {
    std::size_t written = 0;
    for (const std::int16_t sample : samples) {
        search.window[(search.first + static_cast<std::size_t>(search.waiting++)) % CodeSearch::kWindow] = sample;
        if (search.waiting > search.lookahead) written += searchOldest(search, search.lookahead, codes + written);
    }
    return written;
}

std::size_t finishSearch(CodeSearch& search, std::uint8_t* codes) {
    std::size_t written = 0;
    while (search.waiting > 0) written += searchOldest(search, search.waiting - 1, codes + written);
    const SearchPaths& paths = search.sides[static_cast<std::size_t>(search.current)];
    const auto left = static_cast<std::size_t>(std::min<std::uint64_t>(search.searched, kSearchDelay));
    // At the end nothing lies ahead: the path with the least error wins.
    std::size_t best = 0;
    for (int i = 1; i < paths.count; ++i) {
        if (paths.cost[static_cast<std::size_t>(i)] < paths.cost[best]) best = static_cast<std::size_t>(i);
    }
    const std::uint64_t pending = search.shadow.cost < paths.cost[best] ? search.shadow.pending : paths.pending[best];
    for (std::size_t i = left; i-- > 0;) codes[written++] = static_cast<std::uint8_t>((pending >> (4 * i)) & 15u);
    search.searched = 0;
    return written;
}

}  // namespace aamsg
