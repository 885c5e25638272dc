// The beam step for x86-64 processors with AVX2. The target is set after the headers, so that
// nothing they define (and the linker might share with other files) uses the instructions.
#include "search/beam_step.hpp"

// Lanes of 64 bits take two registers here; the functions that pass them are all internal, so the
// calling convention's note on such vectors does not concern them.
#pragma GCC diagnostic ignored "-Wpsabi"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,popcnt")
#endif

namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_avx2 {

namespace {
constexpr std::size_t kLanes = 8;
#include "search/lanes.inc"
#include "search/lanes_avx2.inc"
#include "search/beam_step.inc"
}  // namespace

std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes) { return stepFrame(s, count, codes); }

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
