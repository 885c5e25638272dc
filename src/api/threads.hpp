// The search threads of `q`: how many processors the process may use, and the share of them a
// conversion takes while others run.
#pragma once

#include <istream>
#include <string>

namespace aamsg {

// The processors of the process's CPU affinity, no more than its cgroup's CPU quota allows
// (rounded up); at least 1.
unsigned availableProcessors();

// The tightest CPU quota, in processors (rounded up), of the cgroups that `groups` (the text of
// /proc/self/cgroup) places the process in and of every cgroup above them, as the files under
// `root` (/sys/fs/cgroup) set them: cgroup v2's cpu.max, v1's cpu.cfs_quota_us and
// cpu.cfs_period_us. 0 when none is set.
unsigned cgroupQuotaProcessors(std::istream& groups, const std::string& root);

// The search threads of one conversion, counted as taken from the start of the conversion to
// its end, so that conversions running at once share the processors instead of each taking
// them all. The count is the one thing the library's calls share.
class ThreadShare {
public:
    ThreadShare() = default;
    ThreadShare(const ThreadShare&) = delete;
    ThreadShare& operator=(const ThreadShare&) = delete;
    ~ThreadShare();

    // `asked` threads, or with 0 the processors that other conversions leave (at least one).
    void take(unsigned asked);
    unsigned count() const { return taken; }

private:
    unsigned taken = 0;
};

}  // namespace aamsg
