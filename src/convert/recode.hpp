// `q`'s second pass, where the greedy encoder's codes would have been closer to the signal
// than the search's.
#pragma once

#include "convert/convert.hpp"
#include "prompt/prompt.hpp"

namespace aamsg {

// The message again, coded by the greedy encoder from the input read anew (shaped by `plan`,
// if any), over the one already written, and cut to its length. An output that cannot be
// rewound (a pipe) keeps the search's codes; `stats` says which were written.
Status recodeGreedily(InStream& input, OutStream& output, const PromptPlan* plan, BestStats& stats);

}  // namespace aamsg
