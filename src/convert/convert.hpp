// The conversions between audio files and message files, behind the one entry point that every
// front end (the command line, the web page's module, the tests, the fuzzers, the benchmarks)
// calls.
#pragma once

#include <cstdint>
#include <string>

#include "base/base.hpp"
#include "convert/split_search.hpp"
#include "io/stream.hpp"
#include "prompt/prompt.hpp"
#include "search/search.hpp"

namespace aamsg {

// What to do: `e` and `d` are the format's exact conversions; `q` encodes any audio file as
// well as the format allows.
enum class Mode { Encode, Decode, Best };

// The largest message whose decoded size still fits the WAVE header's 32-bit RIFF size:
// 4 bytes of samples per input byte, plus 36 header bytes, must stay below 2^32.
inline constexpr std::uint64_t kMaxMessageBytes = ((std::uint64_t{1} << 32) - 37) / 4;

// The options of `q`; `e` and `d` have none.
struct BestOptions {
    SearchSettings search;   // the code search's; search.shaped: the noise under the formants
    bool background = true;  // read and convert the input on a second thread
    PromptOptions prompt;    // the level to bring the speech to, and whether to trim silence
    // Threads for the code search, each searching part of the signal; the codes are the same
    // for any number. With more than one the input is always read on a thread of its own.
    unsigned threads = 1;
    SplitShape split;  // where the signal is cut between them
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
    double levelBeforeDb = kSilenceDb;  // active speech level, dB re full scale
    double gainDb = 0.0;
    double levelAfterDb = kSilenceDb;   // measured on the samples encoded
    double trimmedStartSeconds = 0.0;
    double trimmedEndSeconds = 0.0;
};

struct BestStats {
    std::uint64_t samples = 0;  // 8 kHz samples encoded
    std::uint64_t clipped = 0;  // of them, held to -32767..32767 after the rate conversion
    WrittenCodes codes = WrittenCodes::kSearch;
    PromptReport prompt;
    SplitCounts split;  // with more than one search thread
};

struct Request {
    Mode mode = Mode::Encode;
    BestOptions best;
    const char* inputName = "";   // as the messages show them
    const char* outputName = "";
};

struct Outcome {
    ExitCode result = kOk;
    BestStats stats;
    // What the console shows after the progress: `q`'s report lines, then the result's message,
    // byte for byte as the command line prints it (empty for results that print none).
    std::string message;
};

// Runs the conversion the request names from `input` to `output`, then closes the output:
// success is claimed only once every byte is written. Reports through `progress`, set up
// (console, listener) but not started. Never throws: an exception becomes kInternalError.
Outcome runConversion(const Request& request, InStream& input, OutStream& output, ProgressReport progress);

// The message of a result that the conversion did not reach (the driver's own failures).
std::string resultMessage(Mode mode, ExitCode result, const char* inputName, const char* outputName);

}  // namespace aamsg
