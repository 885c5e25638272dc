// libFuzzer target: arbitrary bytes as an audio file through `q`'s conversion (libsndfile reads
// them from memory). Besides the sanitizers' verdict it checks that the result is one `q` may
// give, that a refused file writes nothing, and that the input thread changes nothing.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "convert/convert.hpp"

namespace {

struct Outcome {
    aamsg::ExitCode result;
    std::vector<std::uint8_t> output;
};

// A cap on the output stands in for a full disk and keeps long files from slowing the run.
constexpr std::uint64_t kOutputCap = 1 << 14;

Outcome encode(const std::uint8_t* data, std::size_t size, bool background) {
    Outcome outcome{};
    aamsg::InStream in = aamsg::memoryInput({data, size}, 4096);
    aamsg::OutStream out = aamsg::memoryOutput(outcome.output, 4096);
    out.memoryCapacity = kOutputCap;
    aamsg::BestEncodeStats stats;
    aamsg::BestEncodeOptions options;
    options.background = background;
    outcome.result = aamsg::encodeBestMessage(in, out, aamsg::makeProgressReport(nullptr), options, stats);
    if (!aamsg::flushOutput(out) && outcome.result == aamsg::kOk) outcome.result = aamsg::kCannotWriteOutput;
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Outcome first = encode(data, size, false);
    switch (first.result) {
        case aamsg::kOk:
        case aamsg::kCorrupted:
        case aamsg::kCannotWriteOutput: break;
        case aamsg::kNotRiffWave:
            if (!first.output.empty()) std::abort();
            break;
        default: std::abort();
    }
    if (first.output.size() > kOutputCap) std::abort();
    const Outcome second = encode(data, size, true);
    if (second.result != first.result || second.output != first.output) std::abort();
    return 0;
}
