// The beam step for x86-64 processors with AVX-512, in 512-bit vectors. The target is set after
// the headers, so that nothing they define (and the linker might share with other files) uses
// the instructions.
#include "search/beam_step.hpp"

#if defined(__clang__)
// One attribute a push: clang 14 takes no list.
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512cd,avx2,bmi,bmi2,popcnt"))), \
                             apply_to = function)
#pragma clang attribute push(__attribute__((min_vector_width(512))), apply_to = function)
#else
// GCC 12's own AVX-512 headers start some conversions from a deliberately undefined vector,
// which its flow analysis then reports (as maybe or as surely uninitialised, by optimisation).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl,avx512cd,avx2,bmi,bmi2,popcnt,prefer-vector-width=512")
#endif

namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_avx512 {

namespace {
constexpr std::size_t kLanes = 16;
#include "search/lanes.inc"
#include "search/lanes_avx512.inc"
#include "search/beam_step.inc"
}  // namespace

std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes) { return stepFrame(s, count, codes); }

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_avx512

#if defined(__clang__)
#pragma clang attribute pop
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
