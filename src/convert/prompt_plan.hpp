// `q`'s first pass, when the prompt's level or length is to change: the input measured, and
// the plan for its second pass.
#pragma once

#include "convert/convert.hpp"
#include "prompt/inspect.hpp"

namespace aamsg {

// Measures the input's active speech level and where the speech starts and ends, and plans
// what `options` ask for; `sound`, if given, measures the input as well. A file cut short is
// measured as far as it goes, as the second pass will encode it. Leaves the input wherever the
// reading ended.
Status planShaping(InStream& input, const PromptOptions& options, PromptPlan& plan, PromptReport& report,
                   SoundMeter* sound = nullptr);

}  // namespace aamsg
