// The three conversions, each writing without closing; only runConversion calls them. Each
// ends with kCancelled as soon as the progress listener asks it to stop.
#pragma once

#include "convert/convert.hpp"

namespace aamsg {

// Decodes every input byte as two codes into a 16-bit mono 8000 Hz WAVE file. kOk, or
// kMessageTooLong before anything is written, kCannotReadInput when the input cannot be read
// to the length it had at the start, kCannotWriteOutput at the first failed write.
Status decodeToWave(InStream& input, OutStream& output, ProgressReport& progress);

// Encodes a PCM WAVE file into a message file. kOk, or the reader's result (kNotAudioFile,
// kNotPcm, kCorrupted, kCannotReadInput), or kCannotWriteOutput.
Status encodeToMessage(InStream& input, OutStream& output, ProgressReport& progress);

// `q`: encodes any audio file the reader takes into a message file, choosing the codes by a
// search for the smallest error the format's decoder makes. Never worse than the greedy
// encoder on the same 8 kHz signal: where it would be, the input is read again and coded
// greedily over the output (an output that cannot be rewound keeps the search's codes, and
// `stats` says which were written). kOk, or kNotAudioFile, kNoAudioStream, kCorrupted (cut short or
// undecodable: what came before is encoded), kCannotReadInput, kCannotWriteOutput,
// kInternalError (a library failed).
Status encodeBestMessage(InStream& input, OutStream& output, ProgressReport& progress, const BestOptions& options,
                         BestStats& stats);

}  // namespace aamsg
