// The codes the search tries after each greedy code, built at compile time.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "codec/adpcm.hpp"
#include "search/search.hpp"

namespace aamsg {
inline namespace AAMSG_SEARCH_BUILD {

// Codes in the order of the values they reconstruct: -8..-1 are the negative codes, magnitude
// 7 down to 0, and 0..7 the positive ones.
constexpr int levelOf(unsigned code) { return (code & 8u) != 0 ? -1 - static_cast<int>(code & 7u) : static_cast<int>(code); }
constexpr unsigned codeOf(int level) { return level >= 0 ? static_cast<unsigned>(level) : 8u | static_cast<unsigned>(-1 - level); }

// The codes tried, as levels from the greedy one, larger magnitudes (faster-growing steps) before
// smaller: a step that grows ahead of an onset is what the greedy encoder misses most.
inline constexpr std::array<int, 8> kTryOffsets = {0, 1, 2, -1, 3, 4, -2, 5};

// The codes tried after each greedy code, in the order above. Built for more than eight tries
// (bench/), a row holds every code once: those above without repeats, then the others, the
// nearest levels first.
inline constexpr std::array<std::array<std::uint8_t, kMaxSearchTries>, kCodeCount> kTryCodes = [] {
    std::array<std::array<std::uint8_t, kMaxSearchTries>, kCodeCount> table{};
    for (unsigned greedy = 0; greedy < kCodeCount; ++greedy) {
        const int level = levelOf(greedy);
        const int toward = (greedy & 8u) != 0 ? -1 : 1;  // larger magnitudes first
        std::array<bool, kCodeCount> tried{};
        std::size_t t = 0;
        const auto add = [&](int other) {
            const auto code = static_cast<std::uint8_t>(codeOf(std::clamp(other, -8, 7)));
            if (kMaxSearchTries > kTryOffsets.size() && tried[code]) return;
            tried[code] = true;
            table[greedy][t++] = code;
        };
        for (const int offset : kTryOffsets) add(level + toward * offset);
        for (int distance = 1; t < kMaxSearchTries; ++distance) {
            for (const int other : {level + toward * distance, level - toward * distance}) {
                if (other >= -8 && other <= 7) add(other);
            }
        }
    }
    return table;
}();
static_assert(kTryCodes[0][0] == 0 && kTryCodes[0][3] == 8 && kTryCodes[12][2] == 14 && (kMaxSearchTries > 8 || kTryCodes[15][1] == 15));

}  // namespace AAMSG_SEARCH_BUILD
}  // namespace aamsg
