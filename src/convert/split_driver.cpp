// The driver of the split search: the input thread's marks, and the codes taken in order.
#include "convert/split_driver.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace aamsg {

namespace {

// With several search threads the input thread hands each block's samples to them, and to this
// thread a mark of where the block ends and what the console and the tally learn from it.
struct BlockMark {
    std::uint64_t end = 0;  // samples of the signal up to the block's end
    std::uint64_t unitsLeft = 0;
    std::uint64_t clipped = 0;
    std::uint64_t notNumbers = 0;
    std::uint64_t greedyError = 0;
    std::uint64_t greedyLast = 0;
    Status status = kOk;
    std::shared_ptr<const FailureNote> note;
    std::exception_ptr failure;
    bool last = false;
};

// Marks may run as far ahead as the search threads' window lets the input go, even in blocks of
// a few hundred samples (input at very high rates).
constexpr std::size_t kMarksAhead = 1024;

struct MarkQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<BlockMark> slots = std::vector<BlockMark>(kMarksAhead);
    std::size_t head = 0;
    std::size_t filled = 0;
    bool stop = false;   // the consumer has given up
    bool ended = false;  // the producer has returned: no more marks come
    std::exception_ptr failure;  // thrown on the producer's thread outside a block
};

bool pushMark(MarkQueue& marks, BlockMark mark) {
    std::unique_lock lock(marks.mutex);
    marks.changed.wait(lock, [&] { return marks.stop || marks.filled < kMarksAhead; });
    if (marks.stop) return false;
    marks.slots[(marks.head + marks.filled) % kMarksAhead] = std::move(mark);
    ++marks.filled;
    marks.changed.notify_all();
    return true;
}

// False when the producer has stopped early (the search stopped it), with nothing more to take.
bool popMark(MarkQueue& marks, BlockMark& mark) {
    std::unique_lock lock(marks.mutex);
    marks.changed.wait(lock, [&] { return marks.filled > 0 || marks.ended; });
    if (marks.filled == 0) {
        if (marks.failure) std::rethrow_exception(marks.failure);
        return false;
    }
    mark = std::move(marks.slots[marks.head]);
    marks.head = (marks.head + 1) % kMarksAhead;
    --marks.filled;
    marks.changed.notify_all();
    return true;
}

// The mark goes before the samples, so that this thread takes codes while they go in. After a
// failure nothing more goes in: the mark carries it, to be thrown again where it is taken.
void feedSplit(SignalSource& source, GreedyTally& greedy, MarkQueue& marks, SplitSearch& split) {
    SignalBlock block;
    std::uint64_t end = 0;
    while (!block.last) {
        makeBlock(source, greedy, block);
        if (!block.failure) end += block.samples.size();
        if (!pushMark(marks, {end, block.unitsLeft, block.clipped, block.notNumbers, block.greedyError, block.greedyLast,
                              block.status, block.note, block.failure, block.last})) {
            return;
        }
        if (block.failure || !appendSamples(split, block.samples)) return;
    }
    endSamples(split);
}

// The input thread's whole work: whatever happens, the consumer learns that no more marks come.
void produceSplit(SignalSource& source, GreedyTally& greedy, MarkQueue& marks, SplitSearch& split) {
    std::exception_ptr failure;
    try {
        feedSplit(source, greedy, marks, split);
    } catch (...) {
        failure = std::current_exception();
    }
    {
        std::lock_guard lock(marks.mutex);
        marks.ended = true;
        marks.failure = failure;
    }
    marks.changed.notify_all();
}

// The input thread of a split search, stopped with the search threads however the consumer
// leaves.
struct SplitInputThread {
    MarkQueue& marks;
    SplitSearch& split;
    std::thread thread;

    SplitInputThread(SignalSource& source, GreedyTally& greedy, MarkQueue& queue, SplitSearch& search)
        : marks(queue), split(search), thread(produceSplit, std::ref(source), std::ref(greedy), std::ref(queue), std::ref(search)) {}
    SplitInputThread(const SplitInputThread&) = delete;
    SplitInputThread& operator=(const SplitInputThread&) = delete;
    ~SplitInputThread() {
        {
            std::lock_guard lock(marks.mutex);
            marks.stop = true;
        }
        marks.changed.notify_all();
        stopSplitSearch(split);
        thread.join();
    }
};

// The codes of the split search in order, written, tallied and reported block by block exactly
// as the single search's: a block's progress passes once the codes that search would have
// decided with it (those of its whole frames but the last 32 samples; at the end, all) are
// written.
Status takeSplitCodes(SearchRun& run, SplitSearch& split, MarkQueue& marks) {
    constexpr std::size_t kTake = 4096;
    std::array<std::uint8_t, kTake> codes;
    std::array<std::int16_t, kTake> samples;
    std::uint64_t written = 0;
    for (;;) {
        BlockMark mark;
        if (!popMark(marks, mark)) {
            takeCodes(split, 0, codes.data(), samples.data());  // throws what stopped the search
            return fail(kInternalError, "the input thread stopped before the end of the input");
        }
        if (mark.failure) std::rethrow_exception(mark.failure);
        const std::uint64_t frames = mark.end / kFrameLength * kFrameLength;
        const std::uint64_t due = mark.last ? UINT64_MAX : std::max<std::uint64_t>(frames, kSearchDelay) - kSearchDelay;
        run.stats.samples = mark.end;
        run.stats.clipped += mark.clipped;
        run.stats.notNumbers += mark.notNumbers;
        while (written < due) {
            const std::size_t n = takeCodes(split, static_cast<std::size_t>(std::min<std::uint64_t>(kTake, due - written)), codes.data(), samples.data());
            if (n == 0) break;
            meterCodes(run.tally.search, std::span<const std::int16_t>(samples.data(), n), codes.data());
            if (!writeCodes(run.writer, codes.data(), n)) return kCannotWriteOutput;
            written += n;
        }
        // Short only if the search stopped, which this thread alone asks for.
        if (written < due && !mark.last) return fail(kInternalError, "the search threads stopped before the end of the signal");
        if (mark.last) finishErrorMeter(run.tally.search);
        run.tally.greedyError = mark.greedyError;
        run.tally.lastGreedy = mark.greedyLast;
        if (mark.status == kOk) run.progress.passTo(run.scale.encoding(mark.unitsLeft));
        if (run.progress.cancelled) return kCancelled;
        if (mark.status != kOk || mark.last) return takeStatus(mark.status, mark.note);
    }
}

}  // namespace

bool worthSplitting(const SignalSource& source, const SplitLayout& layout) {
    if (source.byBytes) return true;
    const double samples = static_cast<double>(source.format.frames) * kMessageRate / source.format.sampleRate;
    return samples > usableLayout(layout).segment;
}

Status searchSplit(SearchRun& run, SignalSource& source, GreedyTally& greedy, const SearchSettings& settings,
                   const SplitLayout& layout, unsigned threads) {
    const SplitSearchPtr split = startSplitSearch(settings, layout, threads);
    MarkQueue marks;
    Status result = kOk;
    {
        SplitInputThread reader(source, greedy, marks, *split);
        result = takeSplitCodes(run, *split, marks);
    }
    run.stats.split = splitCounts(*split);
    return result;
}

}  // namespace aamsg
