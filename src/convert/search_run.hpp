// The search's side of one run of `q`: the decided codes written, tallied and reported, block
// by block, whether one search decides them or several threads' split.
#pragma once

#include <vector>

#include "convert/convert.hpp"
#include "convert/message_writer.hpp"
#include "convert/tally.hpp"

namespace aamsg {

struct SearchRun {
    CodeSearch search;
    MessageWriter writer;
    ErrorTally tally;
    std::vector<std::uint8_t> codes;
    ProgressReport& progress;
    unsigned shift = 0;  // progress counts input units >> shift, which fit 32 bits
    BestStats& stats;
};

}  // namespace aamsg
