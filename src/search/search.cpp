// The beam search over the decoder's state and the weighting's memory, and the error meter.
#include "search/search.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <compare>
#include <vector>

namespace aamsg {

namespace {

constexpr std::size_t kMaxPaths = kMaxSearchPaths;
constexpr std::size_t kMaxCandidates = kMaxPaths * kMaxSearchTries;

// A path's undecided codes, the newest lowest: two words of 16.
struct Codes {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    auto operator<=>(const Codes&) const = default;
};
static_assert(kSearchDelay == 32);

Codes push(const Codes& codes, unsigned code) { return {codes.high << 4 | codes.low >> 60, codes.low << 4 | code}; }
unsigned codeAt(const Codes& codes, std::size_t age) {
    return static_cast<unsigned>((age < 16 ? codes.low >> (4 * age) : codes.high >> (4 * (age - 16))) & 15u);
}
unsigned oldest(const Codes& codes) { return static_cast<unsigned>(codes.high >> 60); }

// The kept paths.
struct Beam {
    std::size_t count = 0;
    std::array<std::int32_t, kMaxPaths> predictor{};
    std::array<std::int32_t, kMaxPaths> stepIndex{};
    std::array<std::uint64_t, kMaxPaths> cost{};  // error since the last decision, less the least
    std::array<std::uint64_t, kMaxPaths> rank{};
    std::array<Codes, kMaxPaths> pending{};
    std::array<WeightHistory, kMaxPaths> history{};
    // The greedy encoder's state at the end of each path's look ahead (step index -1: not known),
    // which covered this many samples.
    std::size_t ahead = 0;
    std::array<std::int32_t, kMaxPaths> aheadPredictor{};
    std::array<std::int32_t, kMaxPaths> aheadStepIndex{};
};

// One sample's extensions of every path. A candidate's codes are its parent's and its own code:
// they are put together only for the few that are kept or tie.
struct Candidates {
    std::array<std::int32_t, kMaxCandidates> predictor{};
    std::array<std::int32_t, kMaxCandidates> stepIndex{};
    std::array<std::uint64_t, kMaxCandidates> cost{};
    std::array<std::uint64_t, kMaxCandidates> rank{};  // cost and the greedy encoder's error ahead
    std::array<std::uint32_t, kMaxCandidates> parent{};
    std::array<std::uint8_t, kMaxCandidates> code{};
    std::array<std::int32_t, kMaxCandidates> aheadPredictor{};
    std::array<std::int32_t, kMaxCandidates> aheadStepIndex{};
    std::array<std::int32_t, kMaxPaths> feedback{};  // by parent
};

// A path that takes the greedy encoder's code at every sample, beside the beam whatever its
// cost: the search can always fall back to it. When a decision goes against it, it restarts
// from the best path.
struct Shadow {
    AdpcmState state;
    std::uint64_t cost = 0;
    std::uint64_t rank = 0;
    Codes pending;
    WeightHistory history;
};

// A survivor beside the score it is selected by, so that a selection compares without looking
// the scores up.
struct Scored {
    std::uint64_t score;
    std::size_t candidate;
};

// A merge cell's entry: the sample it was filled at (older means empty) above the index of its
// survivor.
constexpr int kSurvivorBits = std::bit_width(kMaxCandidates - 1);
constexpr std::uint32_t kSurvivorMask = (1u << kSurvivorBits) - 1;
constexpr std::uint32_t kStampLimit = 1u << (32 - kSurvivorBits);

}  // namespace

struct SearchState {
    SearchSettings settings;
    std::uint64_t searched = 0;
    FrameWindow frame;
    WeightingFilter filter;
    std::array<Beam, 2> beams;  // the paths now, and the next sample's being made
    std::size_t current = 0;
    Shadow shadow;
    Candidates candidates;
    std::array<std::size_t, kMaxCandidates> survivors{};
    std::array<Scored, kMaxCandidates> scored{};
    // The look ahead of the survivors being ranked.
    struct {
        std::array<std::size_t, kMaxCandidates> candidate;
        std::array<std::int32_t, kMaxCandidates> predictor;
        std::array<std::int32_t, kMaxCandidates> stepIndex;
        std::array<std::uint64_t, kMaxCandidates> rank;
    } ahead;
    // One entry per merge cell (step index, predictor bucket), indexed directly: a cell is
    // found with one load, and the table (89 << (16 - mergeShift) entries) stays in the cache.
    std::vector<std::uint32_t> cells;
    std::uint32_t stamp = 0;
};

namespace {

// Codes in the order of the values they reconstruct: -8..-1 are the negative codes, magnitude
// 7 down to 0, and 0..7 the positive ones.
constexpr int levelOf(unsigned code) { return (code & 8u) != 0 ? -1 - static_cast<int>(code & 7u) : static_cast<int>(code); }
constexpr unsigned codeOf(int level) { return level >= 0 ? static_cast<unsigned>(level) : 8u | static_cast<unsigned>(-1 - level); }

// The codes tried, as levels from the greedy one, larger magnitudes (faster-growing steps) before
// smaller: a step that grows ahead of an onset is what the greedy encoder misses most.
constexpr std::array<int, 8> kTryOffsets = {0, 1, 2, -1, 3, 4, -2, 5};

// The codes tried after each greedy code, in the order above, built at compile time. Built for
// more than eight tries (bench/), a row holds every code once: those above without repeats,
// then the others, the nearest levels first.
constexpr std::array<std::array<std::uint8_t, kMaxSearchTries>, kCodeCount> kTryCodes = [] {
    std::array<std::array<std::uint8_t, kMaxSearchTries>, kCodeCount> table{};
    for (unsigned greedy = 0; greedy < kCodeCount; ++greedy) {
        const int level = levelOf(greedy);
        const int toward = (greedy & 8u) != 0 ? -1 : 1;  // larger magnitudes first
        std::array<bool, kCodeCount> tried{};
        std::size_t t = 0;
        const auto add = [&](int other) {
            const auto code = static_cast<std::uint8_t>(codeOf(std::clamp(other, -8, 7)));
            if (kMaxSearchTries > kTryOffsets.size() && tried[code]) return;
            tried[code] = true;
            table[greedy][t++] = code;
        };
        for (const int offset : kTryOffsets) add(level + toward * offset);
        for (int distance = 1; t < kMaxSearchTries; ++distance) {
            for (const int other : {level + toward * distance, level - toward * distance}) {
                if (other >= -8 && other <= 7) add(other);
            }
        }
    }
    return table;
}();
static_assert(kTryCodes[0][0] == 0 && kTryCodes[0][3] == 8 && kTryCodes[12][2] == 14 && (kMaxSearchTries > 8 || kTryCodes[15][1] == 15));

// Candidates merge when they have one step index and their predictors one bucket: the cell.
std::size_t mergeCell(std::int32_t predictor, std::int32_t stepIndex, int bucketShift) {
    return static_cast<std::size_t>(stepIndex) << (16 - bucketShift) | static_cast<std::size_t>(predictor + 32768) >> bucketShift;
}

// The strict order of paths: less error first, then the codes themselves, which differ
// between any two paths.
bool before(std::uint64_t cost, const Codes& pending, std::uint64_t otherCost, const Codes& otherPending) {
    return cost < otherCost || (cost == otherCost && pending < otherPending);
}

std::uint64_t square(std::int32_t value) {
    const std::int64_t v = value;
    return static_cast<std::uint64_t>(v * v);
}

// Every path's extensions by the codes tried; returns how many.
template <bool kShaped>
std::size_t extendPaths(SearchState& s, std::int32_t sample) {
    const Beam& from = s.beams[s.current];
    Candidates& c = s.candidates;
    const auto tries = static_cast<std::size_t>(s.settings.tries);
    std::size_t n = 0;
    for (std::size_t p = 0; p < from.count; ++p) {
        const std::int32_t feedback = kShaped ? weightFeedback(s.filter, from.history[p]) : 0;
        c.feedback[p] = feedback;
        const AdpcmState parent{static_cast<std::int16_t>(from.predictor[p]), from.stepIndex[p]};
        const std::array<std::uint8_t, kMaxSearchTries>& codes = kTryCodes[greedyCode(sample, parent)];
        for (std::size_t t = 0; t < tries; ++t) {
            AdpcmState next = parent;
            const std::int32_t value = decodeNibble(codes[t], next);
            c.predictor[n] = value;
            c.stepIndex[n] = next.stepIndex;
            c.cost[n] = from.cost[p] + square(sample - value + feedback);
            c.parent[n] = static_cast<std::uint32_t>(p);
            c.code[n] = codes[t];
            ++n;
        }
    }
    return n;
}

Codes pendingOf(const SearchState& s, std::size_t candidate) {
    return push(s.beams[s.current].pending[s.candidates.parent[candidate]], s.candidates.code[candidate]);
}

// Puts the `count` survivors of least score first among the first `survivors`. With kStrict,
// in the strict order of paths (their codes break ties, which are rare); without, ties across
// the cut fall either side.
template <bool kStrict>
void selectLeast(SearchState& s, std::size_t survivors, std::size_t count, const std::array<std::uint64_t, kMaxCandidates>& score) {
    Scored* const scored = s.scored.data();
    for (std::size_t k = 0; k < survivors; ++k) scored[k] = {score[s.survivors[k]], s.survivors[k]};
    std::nth_element(scored, scored + count, scored + survivors, [&](const Scored& a, const Scored& b) {
        if (!kStrict || a.score != b.score) return a.score < b.score;
        return pendingOf(s, a.candidate) < pendingOf(s, b.candidate);
    });
    for (std::size_t k = 0; k < survivors; ++k) s.survivors[k] = scored[k].candidate;
}

// A survivor that took the greedy code is its parent's look ahead one sample on: its rank is
// the parent's look ahead less that sample's error, plus at most one sample more. False when
// the parent's look ahead is not known or does not reach.
bool rankFromParent(SearchState& s, std::size_t i, const std::int16_t* samples, std::size_t aheadCount) {
    const Beam& from = s.beams[s.current];
    Candidates& c = s.candidates;
    const std::size_t p = c.parent[i];
    const bool greedy = i % static_cast<std::size_t>(s.settings.tries) == 0;
    if (!greedy || from.aheadStepIndex[p] < 0 || from.ahead == 0 || (aheadCount != from.ahead && aheadCount + 1 != from.ahead)) {
        return false;
    }
    AdpcmState state{static_cast<std::int16_t>(from.aheadPredictor[p]), from.aheadStepIndex[p]};
    std::uint64_t rank = c.cost[i] + (from.rank[p] - from.cost[p] - square(samples[0] - c.predictor[i]));
    if (aheadCount == from.ahead) {
        encodeSample(samples[aheadCount], state);
        rank += square(samples[aheadCount] - state.predictor);
    }
    c.rank[i] = rank;
    c.aheadPredictor[i] = state.predictor;
    c.aheadStepIndex[i] = state.stepIndex;
    return true;
}

// The ranks of survivors [begin, end): their cost and the greedy encoder's plain error over the
// samples ahead, one sample at a time across the survivors, whose chains are independent.
void rankRange(SearchState& s, std::size_t begin, std::size_t end, const std::int16_t* samples, std::size_t aheadCount) {
    Candidates& c = s.candidates;
    const std::int16_t* ahead = samples + 1;
    std::size_t* const chained = s.ahead.candidate.data();
    std::int32_t* const predictor = s.ahead.predictor.data();
    std::int32_t* const stepIndex = s.ahead.stepIndex.data();
    std::uint64_t* const rank = s.ahead.rank.data();
    std::size_t survivors = 0;
    for (std::size_t k = begin; k < end; ++k) {
        const std::size_t i = s.survivors[k];
        if (rankFromParent(s, i, samples, aheadCount)) continue;
        chained[survivors] = i;
        predictor[survivors] = c.predictor[i];
        stepIndex[survivors] = c.stepIndex[i];
        rank[survivors++] = c.cost[i];
    }
    for (std::size_t j = 0; j < aheadCount; ++j) {
        for (std::size_t k = 0; k < survivors; ++k) {
            AdpcmState state{static_cast<std::int16_t>(predictor[k]), stepIndex[k]};
            encodeSample(ahead[j], state);
            predictor[k] = state.predictor;
            stepIndex[k] = state.stepIndex;
            rank[k] += square(ahead[j] - state.predictor);
        }
    }
    for (std::size_t k = 0; k < survivors; ++k) {
        c.rank[chained[k]] = rank[k];
        c.aheadPredictor[chained[k]] = predictor[k];
        c.aheadStepIndex[chained[k]] = stepIndex[k];
    }
}

// The survivors' ranks, for those that can still be kept; returns how many those are. The paths
// of least cost are ranked first: a survivor whose cost alone exceeds all their ranks comes
// after every one of them, whatever lies ahead, and is dropped unranked.
std::size_t rankSurvivors(SearchState& s, std::size_t survivors, const std::int16_t* samples, std::size_t aheadCount) {
    const auto paths = static_cast<std::size_t>(s.settings.paths);
    if (survivors <= paths) {
        rankRange(s, 0, survivors, samples, aheadCount);
        return survivors;
    }
    const Candidates& c = s.candidates;
    // Costs that tie across the cut may fall either side: whichever do, every survivor that
    // could be kept is ranked (the worst rank below is at least the cut's cost).
    selectLeast<false>(s, survivors, paths, c.cost);
    rankRange(s, 0, paths, samples, aheadCount);
    std::uint64_t worst = 0;
    for (std::size_t k = 0; k < paths; ++k) worst = std::max(worst, c.rank[s.survivors[k]]);
    std::size_t kept = paths;
    for (std::size_t k = paths; k < survivors; ++k) {
        if (c.cost[s.survivors[k]] <= worst) s.survivors[kept++] = s.survivors[k];
    }
    rankRange(s, paths, kept, samples, aheadCount);
    return kept;
}

// Of the candidates in one merge cell, only the best; returns how many survive.
std::size_t mergeCandidates(SearchState& s, std::size_t n) {
    if (++s.stamp == kStampLimit) {
        std::fill(s.cells.begin(), s.cells.end(), 0u);
        s.stamp = 1;
    }
    // Held in locals: the stores below could otherwise alias them, and they would be read again
    // for every candidate.
    std::uint32_t* const cells = s.cells.data();
    const std::uint32_t tag = s.stamp << kSurvivorBits;
    const int bucketShift = s.settings.mergeShift;
    const Candidates& c = s.candidates;
    std::size_t survivors = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t& entry = cells[mergeCell(c.predictor[i], c.stepIndex[i], bucketShift)];
        if ((entry & ~kSurvivorMask) != tag) {
            entry = tag | static_cast<std::uint32_t>(survivors);
            s.survivors[survivors++] = i;
        } else {
            std::size_t& kept = s.survivors[entry & kSurvivorMask];
            // Which cost is less is close to random: a select rather than a branch. Ties are rare.
            if (c.cost[i] != c.cost[kept]) {
                kept = c.cost[i] < c.cost[kept] ? i : kept;
            } else if (pendingOf(s, i) < pendingOf(s, kept)) {
                kept = i;
            }
        }
    }
    return survivors;
}

// The best survivors become the next sample's paths.
template <bool kShaped>
void keepBest(SearchState& s, std::size_t survivors, std::int32_t sample) {
    const Candidates& c = s.candidates;
    const Beam& from = s.beams[s.current];
    Beam& to = s.beams[1 - s.current];
    const auto paths = static_cast<std::size_t>(s.settings.paths);
    if (survivors > paths) {
        selectLeast<true>(s, survivors, paths, c.rank);
        survivors = paths;
    }
    for (std::size_t k = 0; k < survivors; ++k) {
        const std::size_t i = s.survivors[k];
        to.predictor[k] = c.predictor[i];
        to.stepIndex[k] = c.stepIndex[i];
        to.cost[k] = c.cost[i];
        to.rank[k] = c.rank[i];
        to.pending[k] = pendingOf(s, i);
        to.aheadPredictor[k] = c.aheadPredictor[i];
        to.aheadStepIndex[k] = c.aheadStepIndex[i];
        if (kShaped) {
            const WeightHistory& parent = from.history[c.parent[i]];
            WeightHistory& history = to.history[k];
            std::copy_n(parent.error.begin(), kWeightOrder - 1, history.error.begin() + 1);
            std::copy_n(parent.weighted.begin(), kWeightOrder - 1, history.weighted.begin() + 1);
            history.error[0] = sample - c.predictor[i];
            history.weighted[0] = history.error[0] + c.feedback[c.parent[i]];
        }
    }
    to.count = survivors;
    s.current = 1 - s.current;
}

void extendShadow(SearchState& s, std::int32_t sample, const std::int16_t* ahead, std::size_t aheadCount) {
    Shadow& shadow = s.shadow;
    const std::int32_t feedback = weightFeedback(s.filter, shadow.history);
    const unsigned code = encodeSample(static_cast<std::int16_t>(sample), shadow.state);
    shadow.cost += square(pushWeighted(shadow.history, sample - shadow.state.predictor, feedback));
    shadow.pending = push(shadow.pending, code);
    shadow.rank = shadow.cost;
    AdpcmState state = shadow.state;
    for (std::size_t j = 0; j < aheadCount; ++j) {
        encodeSample(ahead[j], state);
        shadow.rank += square(ahead[j] - state.predictor);
    }
}

std::size_t bestPath(const Beam& beam) {
    std::size_t best = 0;
    for (std::size_t p = 1; p < beam.count; ++p) {
        if (before(beam.rank[p], beam.pending[p], beam.rank[best], beam.pending[best])) best = p;
    }
    return best;
}

void copyPath(Beam& beam, std::size_t to, std::size_t from) {
    beam.predictor[to] = beam.predictor[from];
    beam.stepIndex[to] = beam.stepIndex[from];
    beam.cost[to] = beam.cost[from];
    beam.rank[to] = beam.rank[from];
    beam.pending[to] = beam.pending[from];
    beam.history[to] = beam.history[from];
    beam.aheadPredictor[to] = beam.aheadPredictor[from];
    beam.aheadStepIndex[to] = beam.aheadStepIndex[from];
}

// Decides the oldest pending code: the best path's, or the shadow's if it has less error still.
// Paths that disagree are dropped (the shadow restarts from the best path; if only the shadow
// agrees, the beam goes on from it), and costs restart from the least, since only their
// differences matter.
std::uint8_t decideOldest(SearchState& s) {
    Beam& beam = s.beams[s.current];
    Shadow& shadow = s.shadow;
    const std::size_t best = bestPath(beam);
    const bool byShadow = shadow.rank < beam.rank[best];
    const unsigned code = oldest(byShadow ? shadow.pending : beam.pending[best]);
    if (!byShadow && oldest(shadow.pending) != code) {
        shadow = {{static_cast<std::int16_t>(beam.predictor[best]), beam.stepIndex[best]}, beam.cost[best], beam.rank[best],
                  beam.pending[best], beam.history[best]};
    }
    std::size_t kept = 0;
    for (std::size_t p = 0; p < beam.count; ++p) {
        if (oldest(beam.pending[p]) != code) continue;
        if (kept != p) copyPath(beam, kept, p);  // most often every path agrees: nothing moves
        ++kept;
    }
    beam.count = kept;
    if (kept == 0) {
        beam.count = 1;
        beam.predictor[0] = shadow.state.predictor;
        beam.stepIndex[0] = shadow.state.stepIndex;
        beam.cost[0] = shadow.cost;
        beam.rank[0] = shadow.rank;
        beam.pending[0] = shadow.pending;
        beam.history[0] = shadow.history;
        beam.aheadStepIndex[0] = -1;
    }
    std::uint64_t lowest = shadow.cost;
    for (std::size_t p = 0; p < beam.count; ++p) lowest = std::min(lowest, beam.cost[p]);
    for (std::size_t p = 0; p < beam.count; ++p) {
        beam.cost[p] -= lowest;
        beam.rank[p] -= lowest;
    }
    shadow.cost -= lowest;
    shadow.rank -= lowest;
    return static_cast<std::uint8_t>(code);
}

std::size_t searchSample(SearchState& s, const std::int16_t* samples, std::size_t aheadCount, std::uint8_t* codes) {
    std::size_t written = 0;
    if (s.searched >= kSearchDelay) codes[written++] = decideOldest(s);
    const std::int32_t sample = samples[0];
    const std::size_t n = s.settings.shaped ? extendPaths<true>(s, sample) : extendPaths<false>(s, sample);
    const std::size_t survivors = rankSurvivors(s, mergeCandidates(s, n), samples, aheadCount);
    if (s.settings.shaped) {
        keepBest<true>(s, survivors, sample);
    } else {
        keepBest<false>(s, survivors, sample);
    }
    s.beams[s.current].ahead = aheadCount;
    extendShadow(s, sample, samples + 1, aheadCount);
    ++s.searched;
    return written;
}

// Searches the frame gathered so far, full or (at the end) not.
std::size_t searchFrame(SearchState& s, std::uint8_t* codes) {
    const std::size_t count = s.frame.filled;
    const std::int16_t* samples = frameStart(s.frame);
    s.filter = s.settings.shaped ? analyseFrame(s.frame.samples, s.settings.shape) : WeightingFilter{};
    std::size_t written = 0;
    const auto lookahead = static_cast<std::size_t>(s.settings.lookahead);
    for (std::size_t i = 0; i < count; ++i) {
        written += searchSample(s, samples + i, std::min(lookahead, count - 1 - i), codes + written);
    }
    nextFrame(s.frame);
    return written;
}

// The decoder's start state, and nothing searched: the settings and the merge table stay.
void restart(SearchState& s) {
    s.searched = 0;
    s.frame = {};
    s.filter = {};
    s.beams[0].count = 1;
    s.beams[0].predictor[0] = 0;
    s.beams[0].stepIndex[0] = 0;
    s.beams[0].cost[0] = 0;
    s.beams[0].pending[0] = {};
    s.beams[0].history[0] = {};
    s.beams[0].ahead = 0;
    s.beams[0].aheadStepIndex[0] = -1;
    s.current = 0;
    s.shadow = {};
}

}  // namespace

void SearchStateDeleter::operator()(SearchState* state) const { delete state; }

CodeSearch makeCodeSearch(const SearchSettings& settings) {
    CodeSearch search{std::unique_ptr<SearchState, SearchStateDeleter>(new SearchState)};
    SearchSettings& own = search.state->settings;
    own = settings;
    const SearchDefaults& defaults = own.shaped ? kShapedDefaults : kFlatDefaults;
    const auto resolve = [](int value, int byMode, int low, int high) {
        return std::clamp(value == kModeDefault ? byMode : value, low, high);
    };
    own.paths = resolve(own.paths, defaults.paths, 1, kMaxSearchPaths);
    own.tries = std::clamp(own.tries, 1, kMaxSearchTries);
    own.mergeShift = resolve(own.mergeShift, defaults.mergeShift, 0, 16);
    own.lookahead = resolve(own.lookahead, defaults.lookahead, 0, kMaxSearchLookahead);
    search.state->cells.resize(std::size_t{kStepCount} << (16 - own.mergeShift));
    restart(*search.state);
    return search;
}

std::size_t searchSamples(CodeSearch& search, std::span<const std::int16_t> samples, std::uint8_t* codes) {
    SearchState& s = *search.state;
    std::size_t written = 0;
    for (const std::int16_t sample : samples) {
        if (addToFrame(s.frame, sample)) written += searchFrame(s, codes + written);
    }
    return written;
}

std::size_t finishSearch(CodeSearch& search, std::uint8_t* codes) {
    SearchState& s = *search.state;
    std::size_t written = s.frame.filled > 0 ? searchFrame(s, codes) : 0;
    // Nothing lies ahead: the path with the least error wins.
    const Beam& beam = s.beams[s.current];
    const std::size_t best = bestPath(beam);
    const Codes pending = s.shadow.cost < beam.cost[best] ? s.shadow.pending : beam.pending[best];
    for (std::size_t i = s.searched < kSearchDelay ? static_cast<std::size_t>(s.searched) : kSearchDelay; i-- > 0;) {
        codes[written++] = static_cast<std::uint8_t>(codeAt(pending, i));
    }
    restart(s);
    return written;
}

void restartSearchAt(CodeSearch& search, std::span<const std::int16_t, kFrameHistory> history) {
    SearchState& s = *search.state;
    restart(s);
    std::copy(history.begin(), history.end(), s.frame.samples.begin());
}

void snapshotSearch(const CodeSearch& search, SearchSnapshot& snapshot) {
    const SearchState& s = *search.state;
    const Beam& beam = s.beams[s.current];
    std::vector<std::uint64_t>& w = snapshot.words;
    w.clear();
    const auto put = [&w](auto value) { w.push_back(static_cast<std::uint64_t>(value)); };
    const auto putHistory = [&](const WeightHistory& history) {
        for (const std::int32_t v : history.error) put(v);
        for (const std::int32_t v : history.weighted) put(v);
    };
    // The paths in the order of their codes, which differ between any two.
    std::array<std::size_t, kMaxPaths> order;
    for (std::size_t p = 0; p < beam.count; ++p) order[p] = p;
    std::sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(beam.count),
              [&](std::size_t a, std::size_t b) { return beam.pending[a] < beam.pending[b]; });
    put(std::min<std::uint64_t>(s.searched, kSearchDelay));
    put(s.frame.filled);
    for (std::size_t i = 0; i < kFrameHistory; ++i) put(s.frame.samples[i]);
    put(beam.count);
    put(beam.ahead);
    for (std::size_t k = 0; k < beam.count; ++k) {
        const std::size_t p = order[k];
        put(beam.predictor[p]);
        put(beam.stepIndex[p]);
        put(beam.cost[p]);
        put(beam.rank[p]);
        put(beam.pending[p].high);
        put(beam.pending[p].low);
        const bool ahead = beam.aheadStepIndex[p] >= 0;
        put(ahead ? beam.aheadPredictor[p] : 0);
        put(ahead ? beam.aheadStepIndex[p] : -1);
        if (s.settings.shaped) putHistory(beam.history[p]);
    }
    const Shadow& shadow = s.shadow;
    put(shadow.state.predictor);
    put(shadow.state.stepIndex);
    put(shadow.cost);
    put(shadow.rank);
    put(shadow.pending.high);
    put(shadow.pending.low);
    if (s.settings.shaped) putHistory(shadow.history);
}

ErrorMeter makeErrorMeter(const SearchSettings& settings) {
    ErrorMeter meter;
    meter.shaped = settings.shaped;
    meter.shape = settings.shape;
    return meter;
}

namespace {

void meterFrame(ErrorMeter& meter) {
    const std::size_t count = meter.frame.filled;
    const std::int16_t* samples = frameStart(meter.frame);
    const WeightingFilter filter = meter.shaped ? analyseFrame(meter.frame.samples, meter.shape) : WeightingFilter{};
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t error = samples[i] - decodeNibble(meter.codes[i], meter.decoder);
        const std::int32_t feedback = weightFeedback(filter, meter.history);
        meter.last = square(pushWeighted(meter.history, error, feedback));
        meter.total = meter.total > UINT64_MAX - meter.last ? UINT64_MAX : meter.total + meter.last;
    }
    nextFrame(meter.frame);
}

}  // namespace

void meterCodes(ErrorMeter& meter, std::span<const std::int16_t> samples, const std::uint8_t* codes) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        meter.codes[meter.frame.filled] = codes[i];
        if (addToFrame(meter.frame, samples[i])) meterFrame(meter);
    }
}

void finishErrorMeter(ErrorMeter& meter) {
    if (meter.frame.filled > 0) meterFrame(meter);
}

}  // namespace aamsg
