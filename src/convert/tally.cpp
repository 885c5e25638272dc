// The greedy encoder beside `q`'s search, and the tally of both errors.
#include "convert/tally.hpp"

namespace aamsg {

namespace {

void measureGreedy(GreedyTally& greedy, SignalBlock& block) {
    greedy.codes.clear();
    for (const std::int16_t s : block.samples) greedy.codes.push_back(static_cast<std::uint8_t>(encodeSample(s, greedy.state)));
    meterCodes(greedy.meter, block.samples, greedy.codes.data());
    if (block.last) finishErrorMeter(greedy.meter);
    block.greedyError = greedy.meter.total;
    block.greedyLast = greedy.meter.last;
}

}  // namespace

void makeBlock(SignalSource& source, GreedyTally& greedy, SignalBlock& block) {
    try {
        nextBlock(source, block);
        measureGreedy(greedy, block);
    } catch (...) {
        block.failure = std::current_exception();
        block.last = true;
    }
}

void tallySamples(ErrorTally& tally, const SignalBlock& block) {
    // Keep only what is still waiting, then add the new samples behind it.
    tally.waiting.erase(tally.waiting.begin(), tally.waiting.begin() + static_cast<std::ptrdiff_t>(tally.next));
    tally.next = 0;
    tally.waiting.insert(tally.waiting.end(), block.samples.begin(), block.samples.end());
    tally.greedyError = block.greedyError;
    tally.lastGreedy = block.greedyLast;
}

void tallyCodes(ErrorTally& tally, const std::uint8_t* codes, std::size_t count, bool last) {
    meterCodes(tally.search, std::span<const std::int16_t>(tally.waiting.data() + tally.next, count), codes);
    if (last) finishErrorMeter(tally.search);
    tally.next += count;
}

bool greedyWins(const ErrorTally& tally, std::uint64_t codes) {
    const bool dropLast = (codes & 1) != 0;
    return tally.greedyError - (dropLast ? tally.lastGreedy : 0) < tally.search.total - (dropLast ? tally.search.last : 0);
}

}  // namespace aamsg
