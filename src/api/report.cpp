// The report of a conversion for the C API. A program built against an older header passes a
// smaller struct, which is filled only as far as it reaches; one built against a newer header a
// larger one, whose fields this library does not know are set to zero.
#include "api/report.hpp"

#include <algorithm>
#include <cstring>

namespace aamsg {

void fillReport(aamsg_report* report, const Outcome& outcome, const ProgressReport& progress, const char* detail) {
    if (report == nullptr) return;
    const BestStats& stats = outcome.stats;
    const PromptReport& prompt = stats.prompt;
    aamsg_report full{};
    full.size = sizeof full;
    full.finished = progress.finished ? 1 : 0;
    full.seconds = progress.seconds;
    full.samples = stats.samples;
    full.clipped = stats.clipped;
    full.not_numbers = stats.notNumbers;
    full.level_measured = prompt.measured ? 1 : 0;
    full.speech_found = prompt.active ? 1 : 0;
    full.level_before_db = prompt.levelBeforeDb;
    full.level_after_db = prompt.levelAfterDb;
    full.gain_db = prompt.gainDb;
    full.trimmed_start_seconds = prompt.trimmedStartSeconds;
    full.trimmed_end_seconds = prompt.trimmedEndSeconds;
    full.greedy_codes = stats.codes == WrittenCodes::kGreedy ? 1 : 0;
    std::strncpy(full.detail, detail, sizeof full.detail - 1);
    full.findings = stats.findings;
    // The caller's `size` stays as it set it.
    auto* bytes = reinterpret_cast<unsigned char*>(report);
    const std::size_t callers = report->size;
    const std::size_t reach = std::min(callers, sizeof full);
    constexpr std::size_t kFrom = sizeof full.size;
    std::memcpy(bytes + kFrom, reinterpret_cast<const unsigned char*>(&full) + kFrom, reach - kFrom);
    if (callers > sizeof full) std::memset(bytes + sizeof full, 0, callers - sizeof full);
}

}  // namespace aamsg
