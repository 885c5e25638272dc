// The search's side of one run of `q`: the decided codes written, tallied and reported, block
// by block, whether one search decides them or several threads' split.
#pragma once

#include <vector>

#include "convert/convert.hpp"
#include "convert/message_writer.hpp"
#include "convert/progress_scale.hpp"
#include "convert/tally.hpp"

namespace aamsg {

struct SearchRun {
    CodeSearch search;
    MessageWriter writer;
    ErrorTally tally;
    std::vector<std::uint8_t> codes;
    ProgressReport& progress;
    ProgressScale scale;  // how the input's units count in the progress
    BestStats& stats;
};

}  // namespace aamsg
