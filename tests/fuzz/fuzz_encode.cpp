// libFuzzer target: arbitrary bytes as a WAVE file through the encode conversion. Besides the
// sanitizers' verdict it checks that the result is one the reader and conversion may give,
// and that the stream block size changes nothing.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "convert/convert.hpp"

namespace {

struct Outcome {
    aamsg::ExitCode result;
    std::vector<std::uint8_t> output;
    bool writeFailed;
};

// An output cap stands in for a full disk, and keeps slow rates (one frame a second makes 8000
// samples a frame) from turning one input into megabytes.
constexpr std::uint64_t kOutputCap = 1 << 12;

Outcome encode(const std::uint8_t* data, std::size_t size, std::size_t block) {
    Outcome outcome{};
    aamsg::InStream in = aamsg::memoryInput({data, size}, block);
    aamsg::OutStream out = aamsg::memoryOutput(outcome.output, block);
    out.memoryCapacity = kOutputCap;
    outcome.result = aamsg::encodeToMessage(in, out, aamsg::makeProgressReport(nullptr));
    outcome.writeFailed = !aamsg::flushOutput(out);
    if (outcome.writeFailed && outcome.result == aamsg::kOk) outcome.result = aamsg::kCannotWriteOutput;
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Outcome large = encode(data, size, 4096);
    switch (large.result) {
        case aamsg::kOk:
        case aamsg::kCorrupted:
        case aamsg::kCannotWriteOutput: break;
        case aamsg::kNotRiffWave:
        case aamsg::kNotPcm:
            if (!large.output.empty()) std::abort();  // refused headers write nothing
            break;
        default: std::abort();
    }
    if (large.output.size() > kOutputCap) std::abort();
    // Where a failed write is noticed depends on the buffer, so compare only runs that wrote all.
    const Outcome small = encode(data, size, 1 + size % 13);
    if (small.writeFailed || large.writeFailed) return 0;
    if (small.result != large.result || small.output != large.output) std::abort();
    return 0;
}
