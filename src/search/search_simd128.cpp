// The beam step for WebAssembly SIMD (the module is built with -msimd128).
#include "search/beam_step.hpp"

namespace aamsg::search_simd128 {
#define AAMSG_SEARCH_SIMD128 1
inline constexpr std::size_t kLanes = 4;
#include "search/beam_step.inc"
}  // namespace aamsg::search_simd128
