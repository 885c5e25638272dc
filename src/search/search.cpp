// The search's driver: settings, frames and their weighting, the codes still pending at the
// end, and snapshots of its state; the beam step itself is in beam_step.inc.
#include "search/search.hpp"

#include <algorithm>
#include <array>

#include "search/beam.hpp"

namespace aamsg::inline AAMSG_SEARCH_BUILD {

namespace {

using beam::Beam;
using beam::kMaxPaths;
using beam::kRing;

// The decoder's start state, and nothing searched: the settings and the merge table stay.
void restart(SearchState& s) {
    s.searched = 0;
    s.frame = {};
    s.filter = {};
    Beam& first = s.beams[0];
    first.count = 1;
    first.places = 1;
    first.predictor[0] = 0;
    first.stepIndex[0] = 0;
    first.cost[0] = 0;
    first.rank[0] = 0;
    first.pendingHigh[0] = 0;
    first.pendingLow[0] = 0;
    first.slot[0] = 0;
    first.place[0] = 0;
    s.pool[0] = {};
    s.freeCount = 0;
    for (std::size_t slot = kMaxPaths; slot-- > 1;) s.freeSlots[s.freeCount++] = static_cast<std::uint32_t>(slot);
    s.current = 0;
    s.shadow = {};
}

// Searches the frame gathered so far, full or (at the end) not.
std::size_t searchFrame(SearchState& s, std::uint8_t* codes) {
    const std::size_t count = s.frame.filled;
    frameStart(s.frame);
    s.filter = s.settings.shaped ? analyseFrame(s.frame.samples, s.settings.shape) : WeightingFilter{};
    const std::size_t written = s.step(s, count, codes);
    nextFrame(s.frame);
    return written;
}

}  // namespace

void SearchStateDeleter::operator()(SearchState* state) const { delete state; }

CodeSearch makeCodeSearch(const SearchSettings& settings) {
    CodeSearch search{std::unique_ptr<SearchState, SearchStateDeleter>(new SearchState)};
    SearchState& s = *search.state;
    SearchSettings& own = s.settings;
    own = settings;
    const SearchDefaults& defaults = own.shaped ? kShapedDefaults : kFlatDefaults;
    const auto resolve = [](int value, int byMode, int low, int high) {
        return std::clamp(value == kModeDefault ? byMode : value, low, high);
    };
    own.paths = resolve(own.paths, defaults.paths, 1, kMaxSearchPaths);
    own.tries = resolve(own.tries, defaults.tries, 1, kMaxSearchTries);
    own.mergeShift = resolve(own.mergeShift, defaults.mergeShift, 0, 16);
    own.lookahead = resolve(own.lookahead, defaults.lookahead, 0, kMaxSearchLookahead);
    own.margin = own.margin == kModeDefault ? defaults.margin : own.margin == kNoMargin ? kNoMargin : std::clamp(own.margin, 0, 65535);
    s.step = beamStepFor(own.instructionSet);
    if (s.step == nullptr) s.step = beamStepFor(InstructionSet::kBest);
    s.cells.assign((std::size_t{kStepCount} << beam::bucketBits(own.mergeShift)) + 1, beam::kEmptyCell);
    s.scratch.key[beam::kMaxCandidates] = ~std::uint64_t{0};
    restart(s);
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
    const std::size_t best = beam::bestPath(beam);
    const beam::Pending pending = s.shadow.cost < beam.cost[best] ? s.shadow.pending
                                                                  : beam::Pending{beam.pendingHigh[best], beam.pendingLow[best]};
    for (std::size_t i = s.searched < kSearchDelay ? static_cast<std::size_t>(s.searched) : kSearchDelay; i-- > 0;) {
        codes[written++] = static_cast<std::uint8_t>(beam::codeAt(pending, i));
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
    // The weighting's memory in the order of age: where the ring starts depends on how many
    // samples this search has seen, which two searches of one signal need not agree on.
    const auto putHistory = [&](const beam::History& history) {
        for (std::size_t lag = 0; lag < kWeightOrder; ++lag) {
            const std::size_t at = (s.searched - 1 - lag) & (kRing - 1);
            put(history.error[at]);
            put(history.weighted[at]);
        }
    };
    put(std::min<std::uint64_t>(s.searched, kSearchDelay));
    put(s.frame.filled);
    for (std::size_t i = 0; i < kFrameHistory; ++i) put(s.frame.samples[i]);
    put(beam.count);
    // The paths in the order of their codes, the same in both.
    std::array<std::size_t, kMaxPaths> byPlace;
    for (std::size_t p = 0; p < beam.count; ++p) byPlace[p] = p;
    std::sort(byPlace.begin(), byPlace.begin() + static_cast<std::ptrdiff_t>(beam.count),
              [&](std::size_t a, std::size_t b) { return beam.place[a] < beam.place[b]; });
    for (const std::size_t p : std::span(byPlace.data(), beam.count)) {
        put(beam.predictor[p]);
        put(beam.stepIndex[p]);
        put(beam.cost[p]);
        put(beam.rank[p]);
        put(beam.pendingHigh[p]);
        put(beam.pendingLow[p]);
        if (s.settings.shaped) putHistory(s.pool[beam.slot[p]]);
    }
    const beam::Shadow& shadow = s.shadow;
    put(shadow.state.predictor);
    put(shadow.state.stepIndex);
    put(shadow.cost);
    put(shadow.rank);
    put(shadow.pending.high);
    put(shadow.pending.low);
    if (s.settings.shaped) putHistory(shadow.history);
}

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD
