// The command line: exit codes, the conversion direction, the console progress report and
// the driver that ties a run together.
#pragma once

#include <cstdint>
#include <cstdio>

namespace aamsg {

// The result of a conversion and the process exit status.
enum ExitCode : int {
    kOk = 0,
    kBadUsage = 101,
    kCannotOpenInput = 102,
    kCannotOpenOutput = 103,
    kCannotWriteOutput = 104,
    kCannotReadInput = 105,
    kNotRiffWave = 201,
    kNotPcm = 202,
    kCorrupted = 203,
    kMessageTooLong = 204,
};

enum class Mode { Encode, Decode };

// The running percentage and the closing duration line of one conversion. `total` counts the
// input units still to come at the start; a line is printed each time the units still to come
// reach the next hundredth mark (total / 100 * countdown), so the marks are exact, not rounded.
struct ProgressReport {
    std::FILE* console = stdout;  // null: report nothing
    bool flushEach = false;       // set when the console is a terminal
    std::uint32_t total = 0;
    std::int32_t countdown = 99;
    std::int64_t nextMark = 0;  // total / 100 * countdown, kept for the per-unit test

    void start(std::uint32_t units);
    // Called once per unit consumed, with the units still to come.
    void step(std::uint32_t remaining) {
        if (static_cast<std::int64_t>(remaining) == nextMark) advance();
    }
    void finish(std::uint32_t seconds);

    void advance();
};

// A report on `console` that flushes each line when the console is a terminal.
ProgressReport makeProgressReport(std::FILE* console);

// Runs one command line; prints to standard output and returns the process exit status.
int runDriver(int argc, char** argv);

}  // namespace aamsg
