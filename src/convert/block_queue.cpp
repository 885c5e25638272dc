// The hand-over of `q`'s blocks from the input thread to the search.
#include "convert/block_queue.hpp"

namespace aamsg {

namespace {

void produce(SignalSource& source, GreedyTally& greedy, BlockQueue& queue) {
    for (std::size_t at = 0;; at = (at + 1) % kBlocksAhead) {
        {
            std::unique_lock lock(queue.mutex);
            queue.changed.wait(lock, [&] { return queue.stop || queue.filled < kBlocksAhead; });
            if (queue.stop) return;
        }
        SignalBlock& block = queue.slots[at];
        makeBlock(source, greedy, block);
        const bool last = block.last;
        {
            std::lock_guard lock(queue.mutex);
            ++queue.filled;
        }
        queue.changed.notify_all();
        if (last) return;
    }
}

}  // namespace

InputThread::InputThread(SignalSource& source, GreedyTally& greedy, BlockQueue& blocks)
    : queue(blocks), thread(produce, std::ref(source), std::ref(greedy), std::ref(blocks)) {}

InputThread::~InputThread() {
    {
        std::lock_guard lock(queue.mutex);
        queue.stop = true;
    }
    queue.changed.notify_all();
    thread.join();
}

const SignalBlock& takeBlock(BlockQueue& queue) {
    std::unique_lock lock(queue.mutex);
    queue.changed.wait(lock, [&] { return queue.filled > 0; });
    return queue.slots[queue.head];
}

void releaseBlock(BlockQueue& queue) {
    {
        std::lock_guard lock(queue.mutex);
        queue.head = (queue.head + 1) % kBlocksAhead;
        --queue.filled;
    }
    queue.changed.notify_all();
}

}  // namespace aamsg
