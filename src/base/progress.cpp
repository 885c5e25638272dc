// The console progress percentage and duration line.
#include "base/base.hpp"

#ifdef _WIN32
#include <io.h>
#define AAMSG_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define AAMSG_ISATTY(f) isatty(fileno(f))
#endif

namespace aamsg {

namespace {

void show(const ProgressReport& report, int percent) {
    if (report.listener != nullptr) report.listener(report.listenerContext, percent);
    // Each update overwrites one console line, so a terminal must see it at once.
    if (report.console != nullptr && report.flushEach) std::fflush(report.console);
}

}  // namespace

ProgressReport makeProgressReport(std::FILE* console) {
    ProgressReport report;
    report.console = console;
    report.flushEach = console != nullptr && AAMSG_ISATTY(console) != 0;
    return report;
}

void ProgressReport::start(std::uint32_t units) {
    total = units;
    countdown = 99;
    nextMark = static_cast<std::int64_t>(total / 100) * countdown;
    if (console != nullptr) std::fputs("\r\nProgress: 0%", console);
    show(*this, 0);
}

void ProgressReport::advance() {
    if (console != nullptr) std::fprintf(console, "\rProgress: %d%%", 100 - countdown);
    show(*this, 100 - countdown);
    --countdown;
    nextMark = static_cast<std::int64_t>(total / 100) * countdown;
}

void ProgressReport::finish(std::uint32_t seconds) {
    if (console == nullptr) return;
    std::fprintf(console, "\r\nTotal time: %um %us\r\n", seconds / 60, seconds % 60);
    if (flushEach) std::fflush(console);
}

}  // namespace aamsg
