// The split search: a thread per run slot, a window of the signal that the runs and the output
// share, and the chain of runs known to hold the true state, whose codes go out in order.
#include "search/split_search.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace aamsg {

namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

// Samples a run searches between two looks at the shared state: small enough that the codes
// flow out steadily, large enough that the lock is rarely taken.
constexpr std::uint64_t kChunk = 8 * kFrameLength;

enum class RunState {
    kFree,       // its thread may start another run in the slot
    kLive,       // searching, or waiting to learn whether it holds the true state
    kStopped,    // done searching; its codes are still to be taken
    kAbandoned,  // given up by the run before it; its thread frees the slot
};

// One run: a search from one point of the signal, and its codes that may still go out.
struct SplitRun {
    RunState state = RunState::kFree;
    std::uint64_t index = 0;     // 0: the run from the start; k: the run for boundary k
    std::uint64_t boundary = 0;  // k * segment
    std::uint64_t position = 0;  // samples searched up to here
    std::uint64_t needFrom = 0;  // the window must keep the samples from here on
    bool certified = false;      // its state is the one-search state
    bool finished = false;       // searched to the end of the signal, every code decided
    std::uint32_t recorded = 0;  // its own checkpoints' snapshots taken so far
    std::vector<SearchSnapshot> snapshots;
    // Its codes end where the next run took over; that run's slot.
    std::uint64_t until = kNever;
    std::size_t next = 0;
    // The codes of samples [codesFrom, codesEnd), in a ring; earlier ones are dropped as they
    // are decided (a warm-up's) or taken.
    std::vector<std::uint8_t> codes;
    std::uint64_t codesFrom = 0;
    std::uint64_t codesEnd = 0;
};

}  // namespace

struct SplitSearch {
    SearchSettings settings;
    SplitLayout layout;
    std::mutex mutex;
    std::condition_variable changed;  // any change below; every waiter checks its own condition
    // The signal [windowBase, end) in a ring; windowBase is the least position still needed.
    std::vector<std::int16_t> window;
    std::uint64_t end = 0;
    bool ended = false;
    std::vector<SplitRun> runs;  // a slot per thread
    std::size_t certified = 0;   // the run that holds the true state, the furthest one that does
    std::size_t output = 0;      // the run whose codes go out next
    std::uint64_t taken = 0;     // codes handed to the output
    std::uint64_t nextIndex = 1;  // the next run to start
    bool complete = false;        // the certified run has decided its last code
    bool stop = false;
    std::exception_ptr failure;
    SplitCounts counts;
    std::vector<std::thread> threads;
};

namespace {

using Lock = std::unique_lock<std::mutex>;

std::uint64_t startOf(const SplitLayout& layout, std::uint64_t index) { return index * layout.segment - layout.warmUp; }

// Which of its run's checkpoints the position is, or -1.
int checkpointAt(const SplitLayout& layout, const SplitRun& run, std::uint64_t position) {
    if (run.index == 0 || position < run.boundary || (position - run.boundary) % layout.spacing != 0) return -1;
    const std::uint64_t number = (position - run.boundary) / layout.spacing;
    return number < layout.checkpoints ? static_cast<int>(number) : -1;
}

// The next point after `position` where some run may be compared: every run stops at each.
std::uint64_t nextCheckpoint(const SplitLayout& layout, std::uint64_t position) {
    const std::uint64_t boundary = position / layout.segment * layout.segment;
    if (boundary > 0) {
        const std::uint64_t number = (position - boundary) / layout.spacing + 1;
        if (number < layout.checkpoints) return boundary + number * layout.spacing;
    }
    return boundary + layout.segment;
}

// An abandoned run's thread may still be searching its last stretch: its samples stay until it
// gives the slot up.
std::uint64_t windowBase(const SplitSearch& split) {
    std::uint64_t base = split.taken;
    for (const SplitRun& run : split.runs) {
        if (run.state == RunState::kLive || run.state == RunState::kAbandoned) base = std::min(base, run.needFrom);
    }
    return base;
}

// The run after `run` that the true state would hand over to: the live one of the least index
// above it, or none.
SplitRun* successorOf(SplitSearch& split, const SplitRun& run) {
    SplitRun* next = nullptr;
    for (SplitRun& other : split.runs) {
        if (other.state == RunState::kLive && other.index > run.index && (next == nullptr || other.index < next->index)) next = &other;
    }
    return next;
}

// The window's samples [from, to), which it holds, as at most two pieces of the ring.
std::array<std::span<const std::int16_t>, 2> windowSpan(const SplitSearch& split, std::uint64_t from, std::uint64_t to) {
    const std::size_t size = split.window.size();
    const auto at = static_cast<std::size_t>(from % size);
    const auto count = static_cast<std::size_t>(to - from);
    const std::size_t first = std::min(count, size - at);
    return {std::span<const std::int16_t>(split.window.data() + at, first), std::span<const std::int16_t>(split.window.data(), count - first)};
}

// Codes the run decided, for samples from `position` on; those before the ones it keeps are
// dropped. The ring has room: a run waits for it before it searches.
void keepCodes(SplitRun& run, std::uint64_t position, const std::uint8_t* codes, std::size_t count) {
    const std::size_t size = run.codes.size();
    for (std::size_t i = 0; i < count; ++i, ++position) {
        if (position < run.codesFrom) continue;
        run.codes[static_cast<std::size_t>(position % size)] = codes[i];
        run.codesEnd = position + 1;
    }
}

// The run that holds the true state hands over to `next` at `position`: from the 32 codes
// before it on, next's codes are the one search's, since their decisions follow from equal
// states.
void handOver(SplitSearch& split, SplitRun& run, std::size_t nextSlot, std::uint64_t position) {
    SplitRun& next = split.runs[nextSlot];
    run.until = position - kSearchDelay;
    run.codesEnd = std::min(run.codesEnd, run.until);
    run.next = nextSlot;
    run.state = RunState::kStopped;
    next.certified = true;
    next.codesFrom = std::max(next.codesFrom, run.until);
    next.codesEnd = std::max(next.codesEnd, next.codesFrom);
    split.certified = nextSlot;
    ++split.counts.joined;
    if (next.finished) {
        next.state = RunState::kStopped;
        split.complete = true;
    }
}

// What a worker thread keeps between runs.
struct Worker {
    SplitSearch& split;
    std::size_t slot;
    CodeSearch search;
    std::vector<std::uint8_t> decided;  // a stretch's codes, and the last ones
    SearchSnapshot own;
    std::uint64_t codePosition;  // the sample the run's next code stands for
};

void publishCodes(Worker& worker, SplitRun& run, std::size_t count) {
    keepCodes(run, worker.codePosition, worker.decided.data(), count);
    worker.codePosition += count;
}

// Waits until the run is known to hold the true state, or is given up; true if it goes on.
bool awaitCertainty(SplitSearch& split, SplitRun& run, Lock& lock) {
    split.changed.wait(lock, [&] { return split.stop || split.complete || run.certified || run.state != RunState::kLive; });
    if (run.state == RunState::kAbandoned || (!run.certified && (split.stop || split.complete))) {
        run.state = RunState::kFree;
        return false;
    }
    return run.certified && !run.finished && !split.stop;
}

// At a checkpoint of any run, or at the end: records the run's own state, compares it with the
// next run's, hands over, abandons, decides the last codes, or waits at the end of the
// segment. True if the run goes on searching.
bool arrive(Worker& worker, SplitRun& run, Lock& lock) {
    SplitSearch& split = worker.split;
    const SplitLayout& layout = split.layout;
    const std::uint64_t position = run.position;
    if (split.stop || run.state != RunState::kLive) {
        if (run.state == RunState::kAbandoned) run.state = RunState::kFree;
        return false;
    }
    if (const int own = checkpointAt(layout, run, position); own >= 0 && !run.certified) {
        lock.unlock();
        snapshotSearch(worker.search, run.snapshots[static_cast<std::size_t>(own)]);
        lock.lock();
        run.recorded = static_cast<std::uint32_t>(own) + 1;
        split.changed.notify_all();
    }
    if (run.certified) {
        SplitRun* next = successorOf(split, run);
        const int at = next != nullptr ? checkpointAt(layout, *next, position) : -1;
        if (at >= 0) {
            lock.unlock();
            snapshotSearch(worker.search, worker.own);
            lock.lock();
            const auto number = static_cast<std::uint32_t>(at);
            split.changed.wait(lock, [&] { return split.stop || next->recorded > number || next->state != RunState::kLive; });
            if (split.stop) return false;
            if (next->state == RunState::kLive) {
                if (worker.own == next->snapshots[number]) {
                    handOver(split, run, static_cast<std::size_t>(next - split.runs.data()), position);
                    split.changed.notify_all();
                    return false;
                }
                if (number + 1 == layout.checkpoints) {
                    next->state = RunState::kAbandoned;
                    ++split.counts.abandoned;
                    split.changed.notify_all();
                }
            }
        }
    }
    if (split.ended && position == split.end && !run.finished) {
        lock.unlock();
        const std::size_t count = finishSearch(worker.search, worker.decided.data());
        lock.lock();
        publishCodes(worker, run, count);
        run.finished = true;
        if (run.certified) {
            run.state = RunState::kStopped;
            split.complete = true;
        }
        split.changed.notify_all();
    }
    if (run.certified) return !run.finished;
    // Beyond its segment a run would compare with the next one; it only does so once it is
    // known to hold the true state. It then stands at the next run's first checkpoint, where it
    // arrives again as a run that holds the true state: to compare there, not one later.
    if (run.finished || position >= run.boundary + layout.segment) {
        return awaitCertainty(split, run, lock) && arrive(worker, run, lock);
    }
    return true;
}

// Waits for the samples of the run's next stretch and for room for its codes; false if the
// run is to stop. The stretch may be empty when the signal has just ended where the run stands.
bool nextStretch(SplitSearch& split, SplitRun& run, Lock& lock, std::uint64_t& to) {
    const std::uint64_t wanted = std::min(run.position + kChunk, nextCheckpoint(split.layout, run.position));
    const std::size_t room = kChunk + kMaxUndecided;
    split.changed.wait(lock, [&] {
        return split.stop || run.state != RunState::kLive ||
               ((split.end >= wanted || split.ended) && run.codes.size() - (run.codesEnd - run.codesFrom) >= room);
    });
    if (split.stop || run.state != RunState::kLive) {
        if (run.state == RunState::kAbandoned) run.state = RunState::kFree;
        return false;
    }
    to = std::min(wanted, split.end);
    return true;
}

// Searches the run until it hands over, is abandoned, or decides the signal's last code.
void searchRun(Worker& worker, SplitRun& run) {
    SplitSearch& split = worker.split;
    Lock lock(split.mutex);
    while (arrive(worker, run, lock)) {
        const std::uint64_t from = run.position;
        std::uint64_t to = from;
        if (!nextStretch(split, run, lock, to)) return;
        const auto pieces = windowSpan(split, from, to);
        lock.unlock();
        std::size_t count = 0;
        for (const std::span<const std::int16_t> piece : pieces) count += searchSamples(worker.search, piece, worker.decided.data() + count);
        lock.lock();
        publishCodes(worker, run, count);
        run.position = to;
        run.needFrom = to;
        split.changed.notify_all();
    }
}

// Waits until the thread's slot is free, then starts in it the next run that is still worth its
// warm-up: one whose start the true state is more than a quarter of a segment away from. A run
// started just ahead of it would duplicate its warm-up and gain little, and would keep the
// thread from the run after, which gains a whole segment. False when no run is left to start.
bool startNextRun(Worker& worker, SplitRun& run) {
    SplitSearch& split = worker.split;
    const SplitLayout& layout = split.layout;
    Lock lock(split.mutex);
    split.changed.wait(lock, [&] { return split.stop || split.complete || run.state == RunState::kFree; });
    std::uint64_t start = 0;
    for (;; ++split.nextIndex) {
        if (split.stop || split.complete) return false;
        start = startOf(layout, split.nextIndex);
        if (split.ended && split.nextIndex * layout.segment > split.end) return false;
        if (split.runs[split.certified].position + layout.segment / 4 < start) break;
    }
    const std::uint64_t index = split.nextIndex++;
    run.state = RunState::kLive;
    run.index = index;
    run.boundary = index * layout.segment;
    run.position = start;
    run.needFrom = start - kFrameHistory;
    run.certified = false;
    run.finished = false;
    run.recorded = 0;
    run.until = kNever;
    // Codes before the 32 ahead of the boundary are never used: the earliest hand-over is there.
    run.codesFrom = run.boundary - kSearchDelay;
    run.codesEnd = run.codesFrom;
    // The frame before the start, which the first frame's weighting looks back on.
    split.changed.wait(lock, [&] { return split.stop || split.end >= start || split.ended; });
    if (split.stop || split.end < start) {
        run.state = RunState::kFree;
        return !split.stop;
    }
    ++split.counts.started;
    std::array<std::int16_t, kFrameHistory> history;
    const auto pieces = windowSpan(split, start - kFrameHistory, start);
    std::copy(pieces[1].begin(), pieces[1].end(), std::copy(pieces[0].begin(), pieces[0].end(), history.begin()));
    run.needFrom = start;
    lock.unlock();
    restartSearchAt(worker.search, history);
    worker.codePosition = start;
    return true;
}

void fail(SplitSearch& split, std::exception_ptr failure) {
    std::lock_guard lock(split.mutex);
    if (!split.failure) split.failure = failure;
    split.stop = true;
    split.changed.notify_all();
}

// A worker thread: the run from the start in the first slot, then whatever run comes next. An
// exception may not leave a thread: it goes to the output's side, which throws it again.
void work(SplitSearch& split, std::size_t slot) {
    try {
        Worker worker{split, slot, makeCodeSearch(split.settings), std::vector<std::uint8_t>(kChunk + kMaxUndecided), {}, 0};
        SplitRun& run = split.runs[slot];
        if (slot == 0) searchRun(worker, run);
        while (startNextRun(worker, run)) {
            if (run.state == RunState::kLive) searchRun(worker, run);
        }
    } catch (...) {
        fail(split, std::current_exception());
    }
}

}  // namespace

void SplitSearchDeleter::operator()(SplitSearch* split) const {
    stopSplitSearch(*split);
    for (std::thread& thread : split->threads) thread.join();
    delete split;
}

SplitLayout usableLayout(const SplitLayout& layout) {
    constexpr auto kFrame = static_cast<std::uint32_t>(kFrameLength);
    const auto frames = [](std::uint32_t samples) { return samples / kFrame * kFrame; };
    SplitLayout usable;
    usable.segment = std::max(frames(layout.segment), kFrame);
    usable.spacing = std::max(frames(layout.spacing), kFrame);
    usable.warmUp = std::min(frames(layout.warmUp), usable.segment - kFrame);
    usable.checkpoints = std::clamp<std::uint32_t>(layout.checkpoints, 1, (usable.segment - 1) / usable.spacing + 1);
    return usable;
}

SplitSearchPtr startSplitSearch(const SearchSettings& settings, const SplitLayout& layout, unsigned threads) {
    SplitSearchPtr split(new SplitSearch);
    split->settings = settings;
    split->layout = usableLayout(layout);
    const SplitLayout& s = split->layout;
    // A run holds at most a segment of codes before it is certain, and its window a segment and
    // its warm-up and checkpoints beyond the output.
    const std::size_t span = std::size_t{s.segment} + s.warmUp + std::size_t{s.checkpoints} * s.spacing + 2 * kChunk + kMaxUndecided;
    split->window.resize(span * std::max(threads, 2u));
    split->runs.resize(std::max(threads, 2u));
    for (SplitRun& run : split->runs) {
        run.codes.resize(span);
        run.snapshots.resize(s.checkpoints);
    }
    SplitRun& first = split->runs[0];
    first.state = RunState::kLive;
    first.certified = true;
    split->threads.reserve(split->runs.size());
    try {
        for (std::size_t slot = 0; slot < split->runs.size(); ++slot) split->threads.emplace_back(work, std::ref(*split), slot);
    } catch (...) {
        // Fewer threads do the same work; with none, nothing would.
        if (split->threads.empty()) throw;
    }
    return split;
}

bool appendSamples(SplitSearch& split, std::span<const std::int16_t> samples) {
    Lock lock(split.mutex);
    const std::uint64_t size = split.window.size();
    while (!samples.empty()) {
        split.changed.wait(lock, [&] { return split.stop || split.end - windowBase(split) < size; });
        if (split.stop) return false;
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(samples.size(), size - (split.end - windowBase(split))));
        for (std::size_t i = 0; i < count; ++i) split.window[static_cast<std::size_t>((split.end + i) % size)] = samples[i];
        split.end += count;
        samples = samples.subspan(count);
        split.changed.notify_all();
    }
    return true;
}

void endSamples(SplitSearch& split) {
    std::lock_guard lock(split.mutex);
    split.ended = true;
    split.changed.notify_all();
}

std::size_t takeCodes(SplitSearch& split, std::size_t count, std::uint8_t* codes, std::int16_t* samples) {
    Lock lock(split.mutex);
    for (;;) {
        if (split.failure) {
            const std::exception_ptr failure = split.failure;
            lock.unlock();
            std::rethrow_exception(failure);
        }
        if (split.stop || count == 0) return 0;
        SplitRun& run = split.runs[split.output];
        if (split.taken == run.until) {
            run.state = RunState::kFree;
            split.output = run.next;
            split.changed.notify_all();
            continue;
        }
        if (run.codesEnd > split.taken) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, run.codesEnd - split.taken));
            const auto pieces = windowSpan(split, split.taken, split.taken + n);
            std::copy(pieces[1].begin(), pieces[1].end(), std::copy(pieces[0].begin(), pieces[0].end(), samples));
            for (std::size_t i = 0; i < n; ++i) codes[i] = run.codes[static_cast<std::size_t>((split.taken + i) % run.codes.size())];
            split.taken += n;
            run.codesFrom = split.taken;
            split.changed.notify_all();
            return n;
        }
        if (run.finished) return 0;
        split.changed.wait(lock);
    }
}

void stopSplitSearch(SplitSearch& split) {
    std::lock_guard lock(split.mutex);
    split.stop = true;
    split.changed.notify_all();
}

SplitCounts splitCounts(SplitSearch& split) {
    std::lock_guard lock(split.mutex);
    return split.counts;
}

}  // namespace aamsg
