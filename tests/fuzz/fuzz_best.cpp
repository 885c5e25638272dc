// libFuzzer target: arbitrary bytes as an audio file through `q`'s conversion (libsndfile reads
// them from memory). Besides the sanitizers' verdict it checks that the result is one `q` may
// give, that a refused file writes nothing, and that the input thread changes nothing.
#include <cstdint>
#include <cstdlib>

#include "../support.hpp"

namespace {

// A cap on the output stands in for a full disk and keeps long files from slowing the run.
constexpr std::uint64_t kOutputCap = 1 << 14;

aamsg::test::Converted encode(const aamsg::test::Bytes& file, bool background) {
    aamsg::Request request;
    request.mode = aamsg::Mode::Best;
    request.best.background = background;
    return aamsg::test::convert(request, file, {4096, kOutputCap});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const aamsg::test::Bytes file(data, data + size);
    const aamsg::test::Converted first = encode(file, false);
    switch (first.result) {
        case aamsg::kOk:
        case aamsg::kCorrupted:
        case aamsg::kCannotWriteOutput: break;
        case aamsg::kNotAudioFile:
            if (!first.output.empty()) std::abort();
            break;
        default: std::abort();
    }
    if (first.output.size() > kOutputCap) std::abort();
    const aamsg::test::Converted second = encode(file, true);
    if (second.result != first.result || second.output != first.output) std::abort();
    return 0;
}
