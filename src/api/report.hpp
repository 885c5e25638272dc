// The report of the C API, filled as far as the caller's struct reaches.
#pragma once

#include "aamsg.h"
#include "convert/convert.hpp"

namespace aamsg {

// What the conversion did, and `detail` (what was wrong, "" on success), into `report` (if
// any): as much of it as the caller's `size` holds, and zeros in the rest of the caller's size
// (fields of a newer header than the library's).
void fillReport(aamsg_report* report, const Outcome& outcome, const ProgressReport& progress, const char* detail);

}  // namespace aamsg
