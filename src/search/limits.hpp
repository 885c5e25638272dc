// The widest search a build is made for, and the namespace it lives in. The tool's build takes
// the defaults; bench/ builds the search again with far wider limits (up to 16384 paths and all
// 16 codes) to measure how close the defaults come to the best codes any search of this kind
// finds. That copy names another inline namespace (AAMSG_SEARCH_BUILD), so that one program can
// hold both builds without two definitions of anything.
#pragma once

#ifndef AAMSG_SEARCH_MAX_PATHS
#define AAMSG_SEARCH_MAX_PATHS 256
#endif
#ifndef AAMSG_SEARCH_MAX_TRIES
#define AAMSG_SEARCH_MAX_TRIES 8
#endif
#ifndef AAMSG_SEARCH_BUILD
#define AAMSG_SEARCH_BUILD standard
#endif

namespace aamsg {
inline namespace AAMSG_SEARCH_BUILD {

inline constexpr int kMaxSearchPaths = AAMSG_SEARCH_MAX_PATHS;
inline constexpr int kMaxSearchTries = AAMSG_SEARCH_MAX_TRIES;
static_assert(kMaxSearchTries >= 8 && kMaxSearchTries <= 16);
inline constexpr int kMaxSearchLookahead = 8;

}  // namespace AAMSG_SEARCH_BUILD
}  // namespace aamsg
