// The beam step for arm64's Advanced SIMD, which every arm64 processor has.
#include "search/beam_step.hpp"

// Lanes of 64 bits take two registers here; the functions that pass them are all internal.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_neon {

namespace {
constexpr std::size_t kLanes = 4;
#include "search/lanes.inc"
#include "search/lanes_neon.inc"
#include "search/beam_step.inc"
}  // namespace

std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes) { return stepFrame(s, count, codes); }

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_neon
