// How `q`'s input counts in its progress marks. With a measuring pass first (a level or a trim
// asked for) the input is read twice: the measuring pass is the first tenth of the marks and the
// encoding the rest, so that the marks move, and a caller can stop the conversion, from the
// start of a long file, as they do without one.
#pragma once

#include <cstdint>

namespace aamsg {

inline constexpr std::uint32_t kEncodingTenths = 9;  // of the marks, with a measuring pass

struct ProgressScale {
    unsigned shift = 0;        // input units >> shift, weighted, fit the report's 32 bits
    std::uint64_t total = 0;   // input units of one pass, shifted
    bool twoPasses = false;

    // What the report starts with.
    std::uint32_t units() const { return static_cast<std::uint32_t>(total * (twoPasses ? kEncodingTenths + 1 : 1)); }
    // Still to come while the measuring pass has `unitsLeft` input units to read.
    std::uint32_t measuring(std::uint64_t unitsLeft) const {
        return static_cast<std::uint32_t>(kEncodingTenths * total + (unitsLeft >> shift));
    }
    // Still to come while the encoding pass (or the only one) has `unitsLeft` input units to read.
    std::uint32_t encoding(std::uint64_t unitsLeft) const {
        return static_cast<std::uint32_t>((unitsLeft >> shift) * (twoPasses ? kEncodingTenths : 1));
    }
};

inline ProgressScale progressScale(std::uint64_t totalUnits, bool twoPasses) {
    const std::uint64_t weight = twoPasses ? kEncodingTenths + 1 : 1;
    ProgressScale scale;
    scale.twoPasses = twoPasses;
    while ((totalUnits >> scale.shift) * weight > UINT32_MAX) ++scale.shift;
    scale.total = totalUnits >> scale.shift;
    return scale;
}

}  // namespace aamsg
