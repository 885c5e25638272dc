// The library's records as JSON, for the module's JavaScript (the page's worker and the npm
// package): an inspection, with its findings in words and its picture, and a conversion's report.
#pragma once

#include <cstdint>
#include <string>

#include "aamsg.h"

namespace aamsg::web {

// `findings` are the flags to describe (the inspection's own, or some of them); their words carry
// the inspection's numbers.
std::string inspectionJson(const aamsg_inspection& inspection, std::uint32_t findings);

// The report's fields, and its findings in words without the input's numbers.
std::string reportJson(const aamsg_report& report);

}  // namespace aamsg::web
