// Processors and the process's budget of search threads.
#include "api/threads.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "aamsg.h"
#include "convert/convert.hpp"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#elif defined(__linux__)
#include <sched.h>
#endif

namespace aamsg {

namespace {

// Search threads of the conversions running now, in this process.
std::atomic<unsigned> busy{0};

#if defined(__linux__)
// The CPUs this process may be scheduled on (taskset, cpusets, a container's --cpuset-cpus).
unsigned affinityCount() {
    for (int cpus = 1024; cpus <= 65536; cpus *= 4) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) break;
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        const bool known = sched_getaffinity(0, size, set) == 0;
        const int count = known ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (known) return static_cast<unsigned>(std::max(count, 1));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}
#endif

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Processors a quota of `quota` in each `period` gives, rounded up; 0 for no quota.
unsigned processorsOfQuota(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    return static_cast<unsigned>(std::max(1LL, (quota + period - 1) / period));
}

}  // namespace

unsigned cgroupQuotaProcessors(std::istream& groups, const std::string& root) {
    unsigned tightest = 0;
    const auto consider = [&](unsigned processors) {
        if (processors != 0) tightest = tightest == 0 ? processors : std::min(tightest, processors);
    };
    for (std::string line; std::getline(groups, line);) {
        // "0::/path" (cgroup v2), or "4:cpu,cpuacct:/path" (v1).
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        const bool v2 = line.compare(0, first, "0") == 0 && controllers.empty();
        bool cpuController = false;
        std::istringstream names(controllers);
        for (std::string name; std::getline(names, name, ',');) cpuController = cpuController || name == "cpu";
        if (!v2 && !cpuController) continue;
        for (;;) {
            if (v2) {
                std::istringstream max(firstLine(root + path + "/cpu.max"));
                std::string quota;
                long long period = 0;
                if (max >> quota >> period && quota != "max") consider(processorsOfQuota(std::atoll(quota.c_str()), period));
            } else {
                for (const char* mount : {"/cpu", "/cpu,cpuacct"}) {
                    const std::string dir = root + mount + path;
                    consider(processorsOfQuota(std::atoll(firstLine(dir + "/cpu.cfs_quota_us").c_str()),
                                               std::atoll(firstLine(dir + "/cpu.cfs_period_us").c_str())));
                }
            }
            if (path.empty() || path == "/") break;
            const std::size_t slash = path.find_last_of('/');
            path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
        }
    }
    return tightest;
}

unsigned availableProcessors() {
#if defined(__linux__)
    const unsigned affinity = affinityCount();
    std::ifstream groups("/proc/self/cgroup");
    const unsigned quota = cgroupQuotaProcessors(groups, "/sys/fs/cgroup");
    return quota != 0 ? std::min(affinity, quota) : affinity;
#elif defined(_WIN32)
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) != 0 && process != 0) {
        unsigned count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    return std::max(1u, std::thread::hardware_concurrency());
#else
    return std::max(1u, std::thread::hardware_concurrency());
#endif
}

ThreadShare::~ThreadShare() {
    if (taken != 0) busy.fetch_sub(taken);
}

void ThreadShare::take(unsigned asked) {
    if (taken != 0) busy.fetch_sub(taken);
    if (asked != 0) {
        taken = std::min(asked, kMaxSearchThreads);
        busy.fetch_add(taken);
        return;
    }
    const unsigned processors = availableProcessors();
    unsigned now = busy.load();
    do {
        taken = std::clamp(processors > now ? processors - now : 0u, 1u, kMaxSearchThreads);
    } while (!busy.compare_exchange_weak(now, now + taken));
}

}  // namespace aamsg

extern "C" unsigned aamsg_processors(void) { return aamsg::availableProcessors(); }
