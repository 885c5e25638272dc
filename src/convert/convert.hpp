// The two conversions: message file to WAVE, and WAVE to message file with the conversion of
// any sample rate to 8000 per second.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/base.hpp"
#include "io/stream.hpp"
#include "search/search.hpp"

namespace aamsg {

// The largest message whose decoded size still fits the WAVE header's 32-bit RIFF size:
// 4 bytes of samples per input byte, plus 36 header bytes, must stay below 2^32.
inline constexpr std::uint64_t kMaxMessageBytes = ((std::uint64_t{1} << 32) - 37) / 4;

// Each conversion reports through `progress`, set up (console, listener) but not started.

// Decodes every input byte as two codes into a 16-bit mono 8000 Hz WAVE file. kOk, or
// kMessageTooLong before anything is written, kCannotReadInput when the input cannot be read
// to the length it had at the start, kCannotWriteOutput at the first failed write.
ExitCode decodeToWave(InStream& input, OutStream& output, ProgressReport progress);

// Encodes a PCM WAVE file into a message file. kOk, or the reader's result (kNotRiffWave,
// kNotPcm, kCorrupted, kCannotReadInput), or kCannotWriteOutput.
ExitCode encodeToMessage(InStream& input, OutStream& output, ProgressReport progress);

struct BestEncodeOptions {
    SearchSettings search;    // the code search's settings; search.shaped: noise under the formants
    bool background = true;   // read and convert the input on a second thread
};

struct BestEncodeStats {
    std::uint64_t samples = 0;  // 8 kHz samples encoded
    std::uint64_t clipped = 0;  // of them, held to -32767..32767 after the rate conversion
    bool recoded = false;       // the greedy encoder did better, and the message was made again
};

// `q`: encodes any audio file libsndfile reads into a message file, choosing the codes by a
// search for the smallest error the format's decoder makes (weighted, when shaped). Never worse
// than the greedy encoder on the same 8 kHz signal, by that error: where it would be, the input is read again and coded
// greedily over the output (a file that cannot be rewound keeps the search's codes). kOk, or kNotRiffWave (not an
// audio file), kCorrupted (cut short or undecodable: what came before is encoded),
// kCannotReadInput, kCannotWriteOutput, kInternalError.
ExitCode encodeBestMessage(InStream& input, OutStream& output, ProgressReport progress, const BestEncodeOptions& options,
                           BestEncodeStats& stats);

enum ResampleStep : unsigned { kStepOutput = 1, kStepAdvance = 2 };

// One step of the linear-interpolation rate converter. `tIn` is the time of `next`, `tOut` the
// time of the next output sample; both only ever grow by repeated addition of their period,
// which fixes the exact rounding of every instant. The arithmetic is IEEE double in exactly
// this order: the output bytes depend on every rounding.
inline unsigned stepResampler(double inPeriod, double outPeriod, double& tIn, double& tOut, double next,
                              double current, double& outValue) {
    // The quotient's sign is that of tIn - tOut (inPeriod > 0, and the times are never small
    // enough for it to underflow), so the division is only needed when an output is made.
    if (tIn >= tOut) {
        const double e = (tIn - tOut) / inPeriod;
        outValue = (1.0 - e) * next + e * current;
        tOut += outPeriod;
        return kStepOutput;
    }
    tIn += inPeriod;
    return kStepAdvance;
}

}  // namespace aamsg
