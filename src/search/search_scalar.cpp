// The beam step without vector instructions: the reference the other builds of it must match.
#include "search/beam_step.hpp"

namespace aamsg::search_scalar {
inline constexpr std::size_t kLanes = 1;
#include "search/beam_step.inc"
}  // namespace aamsg::search_scalar
