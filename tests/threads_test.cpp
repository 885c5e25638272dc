// The search threads' budget: the processors the process may use, and the share each of the
// conversions running at once takes of them.
#include <gtest/gtest.h>

#ifdef __linux__
#include <sched.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "api/threads.hpp"

namespace aamsg {
namespace {

#ifdef __linux__
// With its affinity narrowed to one processor, a thread is told of one, whatever the machine has.
TEST(Threads, ProcessorsFollowTheAffinity) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    int first = 0;
    while (!CPU_ISSET(first, &all)) ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const unsigned narrowed = availableProcessors();
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(narrowed, 1u);
    EXPECT_LE(availableProcessors(), static_cast<unsigned>(CPU_COUNT(&all)));  // a cgroup's quota may allow fewer
}
#endif

// Conversions at once share the processors: the first takes them all, the next what is left
// (at least one), and what a finished one gave back is there for the one after. A number asked
// for is taken as it is, and counted.
TEST(Threads, ConversionsAtOnceShareTheProcessors) {
    const unsigned processors = availableProcessors();
    ThreadShare first;
    first.take(0);
    EXPECT_EQ(first.count(), processors);
    {
        ThreadShare second;
        second.take(0);
        EXPECT_EQ(second.count(), 1u);
        ThreadShare asked;
        asked.take(3);
        EXPECT_EQ(asked.count(), 3u);
    }
    ThreadShare third;
    third.take(0);
    EXPECT_EQ(third.count(), 1u);  // the first still holds them all
    {
        ThreadShare released;
        released.take(0);
        EXPECT_EQ(released.count(), 1u);
    }
    third.take(3);
    EXPECT_EQ(third.count(), 3u);
}

TEST(Threads, WhatAFinishedConversionGaveBackIsTakenAgain) {
    const unsigned processors = availableProcessors();
    {
        ThreadShare all;
        all.take(0);
        ThreadShare more;
        more.take(0);
    }
    ThreadShare again;
    again.take(0);
    EXPECT_EQ(again.count(), processors);
}

// A container's CPU limit, as cgroup v2 or v1 sets it on the process's group or on one above it:
// the tightest quota counts, rounded up to whole processors; "max", -1 and other controllers
// are none.
TEST(Threads, CgroupQuotaInProcessors) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("aamsg-cgroup-" + std::to_string(getpid()));
    struct Row {
        const char* groups;                                      // /proc/self/cgroup
        std::vector<std::pair<const char*, const char*>> files;  // under the root
        unsigned processors;
    };
    const Row rows[] = {
        {"0::/a/b\n", {{"a/b/cpu.max", "max 100000"}, {"a/cpu.max", "150000 100000"}}, 2},
        {"0::/a/b\n", {{"a/b/cpu.max", "50000 100000"}, {"a/cpu.max", "300000 100000"}}, 1},
        {"0::/\n", {{"cpu.max", "max 100000"}}, 0},
        {"4:cpu,cpuacct:/docker/x\n",
         {{"cpu,cpuacct/docker/x/cpu.cfs_quota_us", "-1"}, {"cpu,cpuacct/docker/x/cpu.cfs_period_us", "100000"},
          {"cpu,cpuacct/docker/cpu.cfs_quota_us", "400000"}, {"cpu,cpuacct/docker/cpu.cfs_period_us", "100000"}},
         4},
        {"2:cpuacct:/\n1:cpu:/x\n0::/\n", {{"cpu/x/cpu.cfs_quota_us", "250000"}, {"cpu/x/cpu.cfs_period_us", "100000"}}, 3},
        {"4:memory:/x\n", {{"memory/x/cpu.cfs_quota_us", "100000"}, {"memory/x/cpu.cfs_period_us", "100000"}}, 0},
        {"garbage\n\n0:/\n", {{"cpu.max", "100000 100000"}}, 0},
    };
    for (const Row& row : rows) {
        fs::remove_all(root);
        for (const auto& [name, text] : row.files) {
            fs::create_directories((root / name).parent_path());
            std::ofstream(root / name) << text << "\n";
        }
        std::istringstream groups(row.groups);
        EXPECT_EQ(cgroupQuotaProcessors(groups, root.string()), row.processors) << row.groups;
    }
    fs::remove_all(root);
}

}  // namespace
}  // namespace aamsg
