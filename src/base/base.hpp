// What every layer shares: the statuses an operation ends with, and the progress count a
// conversion reports while it runs.
#pragma once

#include <cstdint>

namespace aamsg {

// How an operation ended: one name for each way. Nothing here is an exit code or a message:
// the library maps these to its public statuses, and each front end words them its own way.
enum Status : int {
    kOk = 0,
    kCannotOpenInput,
    kCannotOpenOutput,
    kOutputIsInput,      // the output names the input file: nothing was opened for writing
    kCannotWriteOutput,
    kCannotReadInput,
    kNotAudioFile,       // in no format the conversion reads (`e`: RIFF WAVE; `q`: the listed FFmpeg ones)
    kNotPcm,             // `e`: a WAVE file of other samples than integer PCM
    kCorrupted,
    kMessageTooLong,     // `d`: its WAVE file would pass the format's 32-bit sizes
    kOutOfMemory,
    kInternalError,      // a library failed, or something nobody foresaw
    kCancelled,          // the progress listener asked to stop
    kInvalidArgument,
    kNoAudioStream,      // `q`: a container without an audio track (a video alone)
};

// Told of every percentage the report reaches (0 at the start, then 1..100); returns false to
// stop the conversion, which then ends with kCancelled.
using ProgressListener = bool (*)(void* context, int percent);

// The running percentage of one conversion, and whether and how long it finished. `total`
// counts the input units still to come at the start; a mark is reached each time the units
// still to come reach the next hundredth (total / 100 * countdown), so the marks are exact,
// not rounded.
struct ProgressReport {
    ProgressListener listener = nullptr;
    void* listenerContext = nullptr;
    std::uint32_t total = 0;
    std::int32_t countdown = 99;
    // The units still to come at which the next mark falls, total / 100 * countdown: kept so
    // that step, called once per unit, is one comparison.
    std::int64_t nextMark = 0;
    bool cancelled = false;  // the listener said stop: no mark follows, the conversion ends
    bool finished = false;   // the whole input was converted
    std::uint32_t seconds = 0;  // and it lasts this long

    void start(std::uint32_t units);
    // Called once per unit consumed, with the units still to come.
    void step(std::uint32_t remaining) {
        if (static_cast<std::int64_t>(remaining) == nextMark) advance();
    }
    // How many units can be consumed, from `remaining` still to come, before the next step
    // call could reach a mark: a caller may pass over that many units and then call step once.
    std::uint32_t unitsToNextMark(std::uint32_t remaining) const {
        if (nextMark < 0) return remaining;
        if (nextMark > remaining) return 0;  // a mark already due: only step may pass it
        return remaining - static_cast<std::uint32_t>(nextMark);
    }
    // Reaches every mark down to `remaining` at once, for a caller that consumes units in
    // blocks; passTo(0) ends at 100% whatever the total.
    void passTo(std::uint32_t remaining) {
        while (countdown >= 0 && static_cast<std::int64_t>(remaining) <= nextMark) advance();
    }
    void finish(std::uint32_t seconds);

    void advance();
};

}  // namespace aamsg
