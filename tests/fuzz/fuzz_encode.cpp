// libFuzzer target: arbitrary bytes as a WAVE file through the encode conversion. Besides the
// sanitizers' verdict it checks that the result is one the reader and conversion may give,
// and that the stream block size changes nothing.
#include <cstdint>
#include <cstdlib>

#include "../support.hpp"

namespace {

// An output cap stands in for a full disk, and keeps slow rates (one frame a second makes 8000
// samples a frame) from turning one input into megabytes.
constexpr std::uint64_t kOutputCap = 1 << 12;

aamsg::test::Converted encode(const aamsg::test::Bytes& file, std::size_t block) {
    return aamsg::test::convert(aamsg::Mode::Encode, file, {block, kOutputCap});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const aamsg::test::Bytes file(data, data + size);
    const aamsg::test::Converted large = encode(file, 4096);
    switch (large.result) {
        case aamsg::kOk:
        case aamsg::kCorrupted:
        case aamsg::kCannotWriteOutput: break;
        case aamsg::kNotAudioFile:
        case aamsg::kNotPcm:
            if (!large.output.empty()) std::abort();  // refused headers write nothing
            break;
        default: std::abort();
    }
    if (large.output.size() > kOutputCap) std::abort();
    // Where a failed write is noticed depends on the buffer, so compare only runs that wrote all.
    const aamsg::test::Converted small = encode(file, 1 + size % 13);
    if (small.result == aamsg::kCannotWriteOutput || large.result == aamsg::kCannotWriteOutput) return 0;
    if (small.result != large.result || small.output != large.output) std::abort();
    return 0;
}
