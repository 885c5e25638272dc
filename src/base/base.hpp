// What every layer shares: the result codes that become the process exit status, and the
// progress count a conversion reports while it runs.
#pragma once

#include <cstdint>
#include <cstdio>

namespace aamsg {

// The result of an operation and, at the top, the process exit status.
enum ExitCode : int {
    kOk = 0,
    kBadUsage = 101,
    kCannotOpenInput = 102,
    kCannotOpenOutput = 103,
    kCannotWriteOutput = 104,
    kCannotReadInput = 105,
    kInternalError = 106,  // out of memory, or a failure the program did not foresee
    kNotRiffWave = 201,
    kNotAudioFile = 201,  // `q`: nothing libsndfile reads
    kNotPcm = 202,
    kCorrupted = 203,
    kMessageTooLong = 204,
};

// Told of every percentage the report reaches (0 at the start, then 1..100), besides or
// instead of the console; the web page drives its progress bar from it.
using ProgressListener = void (*)(void* context, int percent);

// The running percentage and the closing duration line of one conversion. `total` counts the
// input units still to come at the start; a line is printed each time the units still to come
// reach the next hundredth mark (total / 100 * countdown), so the marks are exact, not rounded.
struct ProgressReport {
    std::FILE* console = stdout;  // null: print nothing
    bool flushEach = false;       // set when the console is a terminal
    ProgressListener listener = nullptr;
    void* listenerContext = nullptr;
    std::uint32_t total = 0;
    std::int32_t countdown = 99;
    // The units still to come at which the next line prints, total / 100 * countdown: kept so
    // that step, called once per unit, is one comparison.
    std::int64_t nextMark = 0;

    void start(std::uint32_t units);
    // Called once per unit consumed, with the units still to come.
    void step(std::uint32_t remaining) {
        if (static_cast<std::int64_t>(remaining) == nextMark) advance();
    }
    // How many units can be consumed, from `remaining` still to come, before the next step
    // call could print: a caller may pass over that many units and then call step once.
    std::uint32_t unitsToNextMark(std::uint32_t remaining) const {
        if (nextMark < 0) return remaining;
        if (nextMark > remaining) return 0;  // a mark already due: only step may pass it
        return remaining - static_cast<std::uint32_t>(nextMark);
    }
    // Prints every mark down to `remaining` at once, for a caller that consumes units in
    // blocks; passTo(0) ends at 100% whatever the total.
    void passTo(std::uint32_t remaining) {
        while (countdown >= 0 && static_cast<std::int64_t>(remaining) <= nextMark) advance();
    }
    void finish(std::uint32_t seconds);

    void advance();
};

// A report on `console` that flushes each line when the console is a terminal.
ProgressReport makeProgressReport(std::FILE* console);

}  // namespace aamsg
