// The progress marks of a conversion, told to its listener, which may stop it.
#include "base/base.hpp"

namespace aamsg {

namespace {

void tell(ProgressReport& report, int percent) {
    if (report.listener == nullptr || report.listener(report.listenerContext, percent)) return;
    // No mark can be reached again: step and passTo find none.
    report.cancelled = true;
    report.countdown = -1;
    report.nextMark = -1;
}

}  // namespace

void ProgressReport::start(std::uint32_t units) {
    total = units;
    countdown = 99;
    nextMark = static_cast<std::int64_t>(total / 100) * countdown;
    tell(*this, 0);
}

void ProgressReport::advance() {
    const int percent = 100 - countdown;
    --countdown;
    nextMark = static_cast<std::int64_t>(total / 100) * countdown;
    tell(*this, percent);
}

void ProgressReport::finish(std::uint32_t length) {
    finished = true;
    seconds = length;
}

}  // namespace aamsg
