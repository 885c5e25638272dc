// The error the search minimises, of any codes against the samples they stand for: the plain
// squared error, or the weighted one. `q` measures the search's codes and the greedy encoder's
// with it, for its guarantee that the message is never further from the signal than greedy
// coding would have left it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/adpcm.hpp"
#include "search/search.hpp"
#include "search/weighting.hpp"

namespace aamsg::inline AAMSG_SEARCH_BUILD {

// Fed in blocks of samples with their codes.
struct ErrorMeter {
    bool shaped = true;
    WeightShape shape;
    FrameWindow frame;
    std::array<std::uint8_t, kFrameLength> codes{};
    AdpcmState decoder;
    WeightHistory history;
    std::uint64_t total = 0;  // saturates
    std::uint64_t last = 0;   // the last sample's share
};

ErrorMeter makeErrorMeter(const SearchSettings& settings = {});
void meterCodes(ErrorMeter& meter, std::span<const std::int16_t> samples, const std::uint8_t* codes);
// Measures the samples still waiting for the end of their frame; `total` is then complete.
void finishErrorMeter(ErrorMeter& meter);

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD
