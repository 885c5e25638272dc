// Preloaded into the tool under valgrind (make valgrind): Debian's libavcodec brings in libjxl and
// its libhwy, whose initialiser measures its timer with RDTSCP, an instruction valgrind 3.19
// does not know. The tool never times anything with libhwy; this definition stands in for
// libhwy's own.
#include <cstdint>

namespace hwy::platform {

__attribute__((visibility("default"))) std::uint64_t TimerResolution() { return 1; }

}  // namespace hwy::platform
