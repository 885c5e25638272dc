// libFuzzer target: arbitrary bytes as a message through the decode conversion. Every input is
// a valid message, so the run must succeed with exactly 44 + 4 bytes per input byte, and the
// stream block size must change nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "convert/convert.hpp"

namespace {

std::vector<std::uint8_t> decode(const std::uint8_t* data, std::size_t size, std::size_t block) {
    std::vector<std::uint8_t> output;
    aamsg::InStream in = aamsg::memoryInput({data, size}, block);
    aamsg::OutStream out = aamsg::memoryOutput(output, block);
    if (aamsg::decodeToWave(in, out, aamsg::makeProgressReport(nullptr)) != aamsg::kOk || !aamsg::flushOutput(out)) std::abort();
    return output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> large = decode(data, size, 4096);
    if (large.size() != 44 + 4 * size || std::memcmp(large.data(), "RIFF", 4) != 0) std::abort();
    // The predictor never reaches -32768.
    for (std::size_t i = 44; i < large.size(); i += 2) {
        if (large[i] == 0x00 && large[i + 1] == 0x80) std::abort();
    }
    if (decode(data, size, 1 + size % 13) != large) std::abort();
    return 0;
}
