// The search threads' budget: the processors the process may use, and the share each of the
// conversions running at once takes of them.
#include <gtest/gtest.h>

#ifdef __linux__
#include <sched.h>
#endif

#include <thread>

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

}  // namespace
}  // namespace aamsg
