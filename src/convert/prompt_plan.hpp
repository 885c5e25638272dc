// `q`'s first pass, when the prompt's level or length is to change: the input measured, and
// the plan for its second pass.
#pragma once

#include "convert/convert.hpp"
#include "convert/progress_scale.hpp"
#include "prompt/inspect.hpp"

namespace aamsg {

// Measures the input's active speech level and where the speech starts and ends, and plans
// what `options` ask for; `sound`, if given, measures the input as well. A file cut short is
// measured as far as it goes, as the second pass will encode it. Leaves the input wherever the
// reading ended. Starts `progress` once the input is open, on the two passes' `scale`, and
// tells it the first tenth of the marks; ends with kCancelled when it says stop.
Status planShaping(InStream& input, const PromptOptions& options, PromptPlan& plan, PromptReport& report, ProgressReport& progress,
                   ProgressScale& scale, SoundMeter* sound);

}  // namespace aamsg
