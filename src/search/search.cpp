// The search's driver: settings, frames and their weighting, the codes still pending at the
// end, and snapshots of its state; the beam step itself is in beam_step.inc. Also the error meter.
#include "search/search.hpp"

#include <algorithm>
#include <array>

#include "search/beam.hpp"

namespace aamsg {

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
    const std::size_t written = s.searchFrame(s, count, codes);
    nextFrame(s.frame);
    return written;
}

std::uint64_t square(std::int32_t value) {
    const std::int64_t v = value;
    return static_cast<std::uint64_t>(v * v);
}

// The path of least rank, and of those the first in the order of codes: the one whose codes the
// search would keep.
std::size_t bestPath(const Beam& beam) {
    std::size_t best = 0;
    for (std::size_t p = 1; p < beam.count; ++p) {
        if (beam.rank[p] < beam.rank[best] || (beam.rank[p] == beam.rank[best] && beam.place[p] < beam.place[best])) best = p;
    }
    return best;
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
    own.tries = std::clamp(own.tries, 1, kMaxSearchTries);
    own.mergeShift = resolve(own.mergeShift, defaults.mergeShift, 0, 16);
    own.lookahead = resolve(own.lookahead, defaults.lookahead, 0, kMaxSearchLookahead);
    s.searchFrame = searchFrameFunction(own.kernel);
    if (s.searchFrame == nullptr) s.searchFrame = searchFrameFunction(SearchKernel::kBest);
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
    const std::size_t best = bestPath(beam);
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
