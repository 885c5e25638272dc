// One signal's code search spread over several threads, with exactly the codes of one search.
// Runs are started part way through the signal; the run known to hold the search's true state
// hands the signal over to the next one at the first checkpoint where their states are equal,
// or abandons it and carries on itself. Samples and codes are held only for the runs in flight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "search/search.hpp"

namespace aamsg {

// Where the signal is cut, in samples, each a whole number of frames. Run k (k >= 1) starts
// fresh `warmUp` samples before its boundary k * segment, and records its state at
// `checkpoints` points `spacing` apart from the boundary on, where the run before it compares.
// The defaults: 4 s segments, and 102 frames from a run's start to its last checkpoint, within
// which nearly every restart on the speech measured reached the true state (docs/split-search.md).
struct SplitLayout {
    std::uint32_t segment = 32000;
    std::uint32_t warmUp = 1600;
    std::uint32_t spacing = 640;
    std::uint32_t checkpoints = 24;
};

// What a split did, for measurement and for tests that must reach both outcomes.
struct SplitCounts {
    std::uint64_t started = 0;    // runs started part way through the signal
    std::uint64_t joined = 0;     // of them, taken over by the run before
    std::uint64_t abandoned = 0;  // of them, given up: no equal state at any checkpoint
};

// The threads' shared state: large, on the heap.
struct SplitSearch;

// Stops the threads and waits for them.
struct SplitSearchDeleter {
    void operator()(SplitSearch* split) const;
};

using SplitSearchPtr = std::unique_ptr<SplitSearch, SplitSearchDeleter>;

// The layout as a split uses it: whole frames, a warm-up shorter than a segment, and every
// checkpoint inside its segment (a run waits at the end of its segment until it is known to
// hold the true state, and its checkpoints must come before that).
SplitLayout usableLayout(const SplitLayout& layout);

// Starts `threads` search threads (2 or more) on a signal yet to come. Throws only what
// allocation and thread creation throw.
SplitSearchPtr startSplitSearch(const SearchSettings& settings, const SplitLayout& layout, unsigned threads);

// The input's side: the signal's next samples, taken as room in the window allows; false once
// the search has been stopped.
bool appendSamples(SplitSearch& split, std::span<const std::int16_t> samples);
// The signal ends after the samples appended so far.
void endSamples(SplitSearch& split);

// The output's side: the next decided codes in order, at most `count`, each beside the sample
// it stands for; waits until there are some. 0 once every code has been taken, or after a
// stop. An exception a search thread caught is thrown again here (with `count` 0, that is all
// it does).
std::size_t takeCodes(SplitSearch& split, std::size_t count, std::uint8_t* codes, std::int16_t* samples);

// Every thread stops promptly and every wait ends (a failure on the input or the output side).
void stopSplitSearch(SplitSearch& split);

SplitCounts splitCounts(SplitSearch& split);

}  // namespace aamsg
