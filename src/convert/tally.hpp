// Which codes `q`'s message keeps: the greedy encoder runs beside the search on the input's
// thread, and the error of each (by the search's own measure) is tallied over the samples
// whose codes reach the file.
#pragma once

#include <cstdint>
#include <vector>

#include "convert/signal.hpp"
#include "search/error_meter.hpp"

namespace aamsg {

struct GreedyTally {
    AdpcmState state;
    ErrorMeter meter;  // measures as the search does: weighted when it shapes the noise
    std::vector<std::uint8_t> codes;
};

// The next block with the greedy encoder's error on it. An exception may not leave a thread
// (that ends the process): it travels with the block, to be thrown again where it is taken.
void makeBlock(SignalSource& source, GreedyTally& greedy, SignalBlock& block);

// The error of the written codes and the greedy encoder's on the same signal. The search comes
// out ahead on every signal we measured, but it gives no guarantee; this does: if greedy
// coding would have been better, the message is made again that way.
struct ErrorTally {
    std::vector<std::int16_t> waiting;  // samples searched whose codes are not yet decided
    std::size_t next = 0;                // the oldest of them
    ErrorMeter search;
    std::uint64_t greedyError = 0;
    std::uint64_t lastGreedy = 0;  // the last sample's share, taken back if its code is dropped
};

// The block's samples join those waiting for their codes, and the greedy error so far is noted.
void tallySamples(ErrorTally& tally, const SignalBlock& block);
// The next `count` decided codes, for the oldest waiting samples.
void tallyCodes(ErrorTally& tally, const std::uint8_t* codes, std::size_t count, bool last);
// `codes`: how many the search decided, all of them; an odd last one never reaches the file.
bool greedyWins(const ErrorTally& tally, std::uint64_t codes);

}  // namespace aamsg
