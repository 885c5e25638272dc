// What the tests and the benchmarks measure a message by: the format's decoder, run from its rest
// state, and the signal-to-noise ratio of what it gives against the signal it stands for.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "codec/adpcm.hpp"

namespace aamsg::test {

// The samples of codes, one a sample.
inline std::vector<std::int16_t> decodeCodes(std::span<const std::uint8_t> codes) {
    AdpcmState state;
    std::vector<std::int16_t> out;
    out.reserve(codes.size());
    for (const std::uint8_t code : codes) out.push_back(decodeNibble(code, state));
    return out;
}

// The samples of a message: two codes a byte, the earlier in the high nibble.
inline std::vector<std::int16_t> decodeMessage(std::span<const std::uint8_t> message) {
    AdpcmState state;
    std::vector<std::int16_t> out;
    out.reserve(2 * message.size());
    for (const std::uint8_t byte : message) {
        out.push_back(decodeNibble(byte >> kHighNibbleShift, state));
        out.push_back(decodeNibble(byte & kLowNibbleMask, state));
    }
    return out;
}

// Samples of the decoded signal left out of a comparison at each end: a codec's attack, a
// resampler's or a lossy format's edges.
struct Skipped {
    std::size_t atStart = 0;
    std::size_t atEnd = 0;
};

// The SNR in dB of `decoded` against `reference`, sample i of the one against sample i + delay
// of the other (samples whose partner lies outside the reference are left out). +infinity
// when they agree exactly; NaN when nothing is compared (or both are silent), so that no bound
// passes on an empty or too short output.
template <typename Reference, typename Decoded>
double snrDb(const Reference& reference, const Decoded& decoded, Skipped skipped = {}, std::ptrdiff_t delay = 0) {
    double signal = 0;
    double noise = 0;
    const std::size_t end = decoded.size() - std::min(decoded.size(), skipped.atEnd);
    for (std::size_t i = skipped.atStart; i < end; ++i) {
        const std::ptrdiff_t j = static_cast<std::ptrdiff_t>(i) + delay;
        if (j < 0 || static_cast<std::size_t>(j) >= reference.size()) continue;
        const double r = static_cast<double>(reference[static_cast<std::size_t>(j)]);
        const double e = r - static_cast<double>(decoded[i]);
        signal += r * r;
        noise += e * e;
    }
    if (signal == 0 && noise == 0) return std::numeric_limits<double>::quiet_NaN();
    return 10 * std::log10(signal / noise);
}

// The best SNR over constant delays of up to `maxDelay` samples either way: lossy formats and
// their decoders may shift the signal.
template <typename Reference, typename Decoded>
double bestSnrDb(const Reference& reference, const Decoded& decoded, Skipped skipped, std::ptrdiff_t maxDelay) {
    double best = std::numeric_limits<double>::quiet_NaN();
    for (std::ptrdiff_t delay = -maxDelay; delay <= maxDelay; ++delay) {
        const double snr = snrDb(reference, decoded, skipped, delay);
        if (std::isnan(best) || snr > best) best = snr;
    }
    return best;
}

}  // namespace aamsg::test
