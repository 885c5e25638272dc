// The search run over a whole signal, and the error it minimises, for the search's tests and
// the conversion's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "search/error_meter.hpp"
#include "search/search.hpp"

namespace aamsg::test {

inline std::vector<std::uint8_t> searchAll(const std::vector<std::int16_t>& signal, const SearchSettings& settings, std::size_t block = 4096) {
    CodeSearch search = makeCodeSearch(settings);
    std::vector<std::uint8_t> codes(signal.size() + kMaxUndecided);
    std::size_t n = 0;
    for (std::size_t at = 0; at < signal.size(); at += block) {
        const std::size_t count = std::min(block, signal.size() - at);
        n += searchSamples(search, std::span<const std::int16_t>(signal.data() + at, count), codes.data() + n);
    }
    n += finishSearch(search, codes.data() + n);
    codes.resize(n);
    return codes;
}

// The error the search minimises, of the codes against the signal, fed in uneven blocks.
inline std::uint64_t meteredError(const SearchSettings& settings, const std::vector<std::int16_t>& signal, const std::vector<std::uint8_t>& codes) {
    ErrorMeter meter = makeErrorMeter(settings);
    for (std::size_t at = 0; at < signal.size(); at += 1000) {
        const std::size_t count = std::min<std::size_t>(1000, signal.size() - at);
        meterCodes(meter, std::span<const std::int16_t>(signal.data() + at, count), codes.data() + at);
    }
    finishErrorMeter(meter);
    return meter.total;
}

inline SearchSettings settingsOf(bool shaped, int paths, int tries, int lookahead) {
    SearchSettings settings;
    settings.shaped = shaped;
    settings.paths = paths;
    settings.tries = tries;
    settings.lookahead = lookahead;
    return settings;
}

inline const SearchSettings kShaped{};
inline const SearchSettings kFlat = settingsOf(false, kShaped.paths, kShaped.tries, kShaped.lookahead);
// A narrow search that loses to the greedy encoder on the faint tone, where the default never
// does: it reaches the second pass.
inline const SearchSettings kWeak = settingsOf(false, 2, 5, 0);

}  // namespace aamsg::test
