// The conversions between audio files and message files, behind the one entry point the
// library (and the tests, the fuzzers and the benchmarks) calls. Plain records only: the
// search's and the prompt processor's insides stay in src/convert.
#pragma once

#include <cstdint>

#include "base/base.hpp"
#include "io/stream.hpp"
#include "prompt/levels.hpp"
#include "search/split_search.hpp"

namespace aamsg {

// What to do: `e` and `d` are the format's exact conversions; `q` encodes any audio file as
// well as the format allows.
enum class Mode { Encode, Decode, Best };

// The largest message whose decoded size still fits the WAVE header's 32-bit RIFF size:
// 4 bytes of samples per input byte, plus 36 header bytes, must stay below 2^32.
inline constexpr std::uint64_t kMaxMessageBytes = ((std::uint64_t{1} << 32) - 37) / 4;

// The options of `q`; `e` and `d` have none.
struct BestOptions {
    bool shaped = true;  // the coding noise under the speech's formants; false: the least plain error
    bool level = false;  // bring the active speech to levelDb (kMinTargetDb..kMaxTargetDb)
    double levelDb = kDefaultTargetDb;
    bool trim = false;   // remove the silence before and after the speech
    // Threads for the code search, each searching part of the signal; the codes are the same
    // for any number. With more than one the input is always read on a thread of its own.
    unsigned threads = 1;
    bool background = true;  // with one: read and convert the input on a second thread
    // For tests and measurements: a search other than the default one of `shaped` (used whole,
    // its own `shaped` included), and another place to cut the signal between threads.
    const SearchSettings* search = nullptr;
    const SplitLayout* split = nullptr;
};

// A machine with very many cores still gives one conversion no more search threads than this,
// each with its own search and share of the window.
inline constexpr unsigned kMaxSearchThreads = 64;

// Which codes a message of `q` holds: the search's, or (where they would have been further
// from the signal) the greedy encoder's, written over them in a second pass.
enum class WrittenCodes { kSearch, kGreedy };

// What was done to a prompt's level and length, when it was asked for.
struct PromptReport {
    bool measured = false;  // the input was measured first (a level or a trim was asked for)
    bool active = false;    // it holds active speech; otherwise it is left as it is
    double levelBeforeDb = 0.0;  // active speech level, dB re full scale
    double gainDb = 0.0;
    double levelAfterDb = 0.0;   // measured on the samples encoded
    double trimmedStartSeconds = 0.0;
    double trimmedEndSeconds = 0.0;
};

struct BestStats {
    std::uint64_t samples = 0;  // 8 kHz samples encoded
    std::uint64_t clipped = 0;  // of them, held to -32767..32767 after the rate conversion
    std::uint64_t notNumbers = 0;  // input samples (of every channel) that were NaN or infinite
    WrittenCodes codes = WrittenCodes::kSearch;
    PromptReport prompt;
    SplitCounts split;  // with more than one search thread
    std::uint32_t findings = 0;  // what the input's sound says (prompt/inspect.hpp's Finding flags)
};

struct Request {
    Mode mode = Mode::Encode;
    BestOptions best;
};

struct Outcome {
    Status status = kOk;
    BestStats stats;
};

// Runs the conversion the request names from `input` to `output`, then closes the output:
// success is claimed only once every byte is written. Tells `progress`'s listener each mark,
// and leaves in `progress` whether the conversion finished and how long the audio lasts.
// Never throws: an exception becomes kOutOfMemory or kInternalError.
Outcome runConversion(const Request& request, InStream& input, OutStream& output, ProgressReport& progress);

}  // namespace aamsg
