// The report of the C API, filled as far as the caller's struct reaches.
#pragma once

#include "aamsg.h"
#include "convert/convert.hpp"

namespace aamsg {

// Whether a caller's report can be filled: none, or one whose size at least covers `size`.
bool reportUsable(const aamsg_report* report);

// What the conversion did, into as much of `report` (if any) as its size says it has.
void fillReport(aamsg_report* report, const Outcome& outcome, const ProgressReport& progress);

}  // namespace aamsg
