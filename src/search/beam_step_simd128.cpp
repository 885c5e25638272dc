// The beam step for WebAssembly SIMD (the module is built with -msimd128).
#include "search/beam_step.hpp"

namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_simd128 {

namespace {
constexpr std::size_t kLanes = 4;
#include "search/lanes.inc"
#include "search/lanes_simd128.inc"
#include "search/beam_step.inc"
}  // namespace

std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes) { return stepFrame(s, count, codes); }

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_simd128
