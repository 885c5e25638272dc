// The beam step without vector instructions: the reference the other builds of it must match.
#include "search/beam_step.hpp"

namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_scalar {

namespace {
constexpr std::size_t kLanes = 1;
#include "search/lanes.inc"
#include "search/lanes_scalar.inc"
#include "search/beam_step.inc"
}  // namespace

std::size_t searchFrame(SearchState& s, std::size_t count, std::uint8_t* codes) { return stepFrame(s, count, codes); }

}  // namespace aamsg::inline AAMSG_SEARCH_BUILD::beam_scalar
