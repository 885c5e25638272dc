// The input of `q` on a thread of its own, a few blocks ahead of the search on the caller's.
#pragma once

#include <array>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "convert/tally.hpp"

namespace aamsg {

// A ring of slots, so that handing a block over allocates nothing. Slots [head, head + filled)
// belong to the consumer, the rest to the producer.
inline constexpr std::size_t kBlocksAhead = 4;

struct BlockQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::array<SignalBlock, kBlocksAhead> slots;
    std::size_t head = 0;
    std::size_t filled = 0;
    bool stop = false;  // the consumer has given up
};

// The input thread, making blocks until the last; stopped and joined however the consumer
// leaves, an exception included.
struct InputThread {
    BlockQueue& queue;
    std::thread thread;

    InputThread(SignalSource& source, GreedyTally& greedy, BlockQueue& blocks);
    InputThread(const InputThread&) = delete;
    InputThread& operator=(const InputThread&) = delete;
    ~InputThread();
};

// The oldest block made, once there is one; the consumer hands it back with releaseBlock.
const SignalBlock& takeBlock(BlockQueue& queue);
void releaseBlock(BlockQueue& queue);

}  // namespace aamsg
