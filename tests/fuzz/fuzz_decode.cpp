// libFuzzer target: arbitrary bytes as a message through the decode conversion. Every input is
// a valid message, so the run must succeed with exactly 44 + 4 bytes per input byte, and the
// stream block size must change nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../support.hpp"

namespace {

aamsg::test::Bytes decode(const aamsg::test::Bytes& message, std::size_t block) {
    const aamsg::test::Converted run = aamsg::test::convert(aamsg::Mode::Decode, message, {block});
    if (run.result != aamsg::kOk) std::abort();
    return run.output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const aamsg::test::Bytes message(data, data + size);
    const aamsg::test::Bytes large = decode(message, 4096);
    if (large.size() != 44 + 4 * size || std::memcmp(large.data(), "RIFF", 4) != 0) std::abort();
    // The predictor never reaches -32768.
    for (std::size_t i = 44; i < large.size(); i += 2) {
        if (large[i] == 0x00 && large[i + 1] == 0x80) std::abort();
    }
    if (decode(message, 1 + size % 13) != large) std::abort();
    return 0;
}
