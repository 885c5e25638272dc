// `q` with its search split over several threads: the input thread feeds the split search and
// tells this one where each block ends; this one takes the codes in order.
#pragma once

#include "convert/search_run.hpp"
#include "search/split_search.hpp"

namespace aamsg {

// Whether the signal reaches the first place a second thread could take over; an input of
// unknown length may.
bool worthSplitting(const SignalSource& source, const SplitLayout& layout);

// The search over `threads` threads, the input on one more: the codes, the tally, the
// progress and the statistics exactly as one search's.
Status searchSplit(SearchRun& run, SignalSource& source, GreedyTally& greedy, const SearchSettings& settings,
                   const SplitLayout& layout, unsigned threads);

}  // namespace aamsg
