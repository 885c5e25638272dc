// `q`: any audio file to a message file, through libsndfile, libsoxr and the code search.
#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/audio.hpp"
#include "codec/message_writer.hpp"
#include "convert/conversions.hpp"
#include "convert/split_search.hpp"
#include "search/search.hpp"

namespace aamsg {

namespace {

// Input frames read a block. Each block crosses from the input thread to the search under a
// lock, so blocks are large enough that the hand-over costs nothing next to the work on them.
constexpr std::size_t kFramesPerRead = 32768;

// Room in the converted block beyond one read's worth of output, for the filter's delayed
// samples, which all come out with the last read.
constexpr std::size_t kFilterTailRoom = 4096;

// A run of the input at the message rate, with where the input stood after it.
struct SignalBlock {
    std::vector<std::int16_t> samples;
    std::uint64_t unitsLeft = 0;  // input units (frames, or bytes) not yet read
    std::uint64_t clipped = 0;
    std::uint64_t greedyError = 0;  // the greedy encoder's error (the search's measure) so far
    std::uint64_t greedyLast = 0;   // of it, the last sample's
    ExitCode status = kOk;          // not kOk: the input failed after these samples
    std::exception_ptr failure;     // thrown while the block was made, on the input's thread
    bool last = false;
};

// The input side: reads, averages, converts the rate, brings the prompt to its level and
// length, clips and rounds, a block at a time.
struct SignalSource {
    AudioFilePtr file;
    ResamplerPtr resampler;  // none at 8000 per second
    AudioFormat format;
    std::uint64_t totalUnits = 0;  // frames, or bytes when the frame count is unknown
    bool byBytes = false;
    std::uint64_t framesRead = 0;
    std::vector<float> mono = std::vector<float>(kFramesPerRead);
    std::vector<float> converted;
    std::vector<float> values;  // the block at the message rate, before rounding
    bool shaped = false;        // the prompt processor runs, and the meter measures its output
    PromptProcessor prompt;
    std::vector<float> processed;
    SpeechMeter output = makeSpeechMeter();
};

std::uint64_t unitsLeft(const SignalSource& source) {
    const std::uint64_t done = source.byBytes ? audioBytesRead(*source.file) : source.framesRead;
    return source.totalUnits - std::min(source.totalUnits, done);
}

// Rounds to the nearest integer and holds the result to the format's range; the format never
// reconstructs -32768, so neither is it asked to.
void roundSamples(const float* values, std::size_t count, SignalBlock& block) {
    for (std::size_t i = 0; i < count; ++i) {
        float v = values[i];
        if (!(v <= 32767.0f && v >= -32767.0f)) {
            ++block.clipped;
            v = v > 0.0f ? 32767.0f : -32767.0f;  // NaN, from a broken float file, is clipped too
        }
        block.samples.push_back(static_cast<std::int16_t>(std::lrint(v)));
    }
}

// Converts `count` mono samples (`mono` null: the filter's tail) into `source.values`.
ExitCode convertRate(SignalSource& source, const float* mono, std::size_t count) {
    if (!source.resampler) {
        source.values.insert(source.values.end(), mono, mono + count);
        return kOk;
    }
    const std::size_t room = source.converted.size();
    for (;;) {
        std::size_t used = 0;
        std::size_t made = 0;
        if (const ExitCode rc = resample(*source.resampler, mono, count, used, source.converted.data(), room, made); rc != kOk) {
            return rc;
        }
        source.values.insert(source.values.end(), source.converted.data(), source.converted.data() + made);
        if (mono == nullptr) {
            if (made == 0) return kOk;
            continue;
        }
        // A library that takes nothing and gives nothing would keep this loop going for ever.
        if (made == 0 && used == 0 && count > 0) return kInternalError;
        mono += used;
        count -= used;
        if (count == 0 && made < room) return kOk;
    }
}

// The next run of the signal at the message rate into `source.values`; `last` at the end of the
// input or at a failure, which the result tells.
ExitCode readValues(SignalSource& source, bool& last) {
    source.values.clear();
    std::size_t got = 0;
    ExitCode rc = readMono(*source.file, source.mono.data(), source.mono.size(), got);
    source.framesRead += got;
    const ExitCode converted = convertRate(source, source.mono.data(), got);
    if (converted != kOk) {
        rc = converted;
    } else if (got == 0 || rc != kOk) {
        // The end, or a failure of the input: what arrived before it is still encoded.
        if (const ExitCode tail = convertRate(source, nullptr, 0); tail != kOk) rc = tail;
    }
    last = got == 0 || rc != kOk;
    return rc;
}

// The prompt's level and length applied to the values, which the meter then measures.
std::span<const float> shapeValues(SignalSource& source, bool last) {
    source.processed.resize(source.values.size() + kPromptDelay);
    std::size_t n = processPrompt(source.prompt, source.values, source.processed.data());
    if (last) n += finishPrompt(source.prompt, source.processed.data() + n);
    const std::span<const float> shaped(source.processed.data(), n);
    meterSamples(source.output, shaped);
    return shaped;
}

// The next block of the signal; at the end of the input, or at a failure, the last.
void nextBlock(SignalSource& source, SignalBlock& block) {
    block.samples.clear();
    block.clipped = 0;
    block.status = readValues(source, block.last);
    const std::span<const float> values = source.shaped ? shapeValues(source, block.last) : std::span<const float>(source.values);
    roundSamples(values.data(), values.size(), block);
    block.unitsLeft = block.last ? 0 : unitsLeft(source);
}

// Opens the signal from the start of the input, shaped by `plan` when one is given.
ExitCode openSignal(InStream& input, SignalSource& source, const PromptPlan* plan = nullptr) {
    if (!seekRelative(input, -static_cast<std::int64_t>(tellInput(input)))) return kCannotReadInput;
    if (const ExitCode rc = openAudio(input, source.file, source.format); rc != kOk) return rc;
    source.shaped = plan != nullptr;
    if (source.shaped) source.prompt = makePromptProcessor(*plan);
    if (source.format.sampleRate != kMessageRate) {
        if (const ExitCode rc = makeResampler(source.format.sampleRate, source.resampler); rc != kOk) return rc;
        source.converted.resize(kFramesPerRead * kMessageRate / source.format.sampleRate + kFilterTailRoom);
    }
    source.byBytes = source.format.frames == kUnknownFrames;
    source.totalUnits = source.byBytes ? inputSize(input).value_or(0) : source.format.frames;
    return kOk;
}

// The greedy encoder over the whole signal, for the comparison with the search; it runs with
// the input, on the input's thread, beside the search on the other.
struct GreedyTally {
    AdpcmState state;
    ErrorMeter meter;  // measures as the search does: weighted when it shapes the noise
    std::vector<std::uint8_t> codes;
};

void measureGreedy(GreedyTally& greedy, SignalBlock& block) {
    greedy.codes.clear();
    for (const std::int16_t s : block.samples) greedy.codes.push_back(static_cast<std::uint8_t>(encodeSample(s, greedy.state)));
    meterCodes(greedy.meter, block.samples, greedy.codes.data());
    if (block.last) finishErrorMeter(greedy.meter);
    block.greedyError = greedy.meter.total;
    block.greedyLast = greedy.meter.last;
}

// The next block with the greedy encoder's error on it. An exception may not leave a thread
// (that ends the process): it travels with the block, to be thrown again where it is taken.
void makeBlock(SignalSource& source, GreedyTally& greedy, SignalBlock& block) {
    try {
        nextBlock(source, block);
        measureGreedy(greedy, block);
    } catch (...) {
        block.failure = std::current_exception();
        block.last = true;
    }
}

// Blocks made ahead by the input thread: a ring of slots, so that handing one over allocates
// nothing. Slots [head, head + filled) belong to the consumer, the rest to the producer.
constexpr std::size_t kBlocksAhead = 4;

struct BlockQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::array<SignalBlock, kBlocksAhead> slots;
    std::size_t head = 0;
    std::size_t filled = 0;
    bool stop = false;  // the consumer has given up
};

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

// The input thread, stopped and joined however the consumer leaves, an exception included.
struct InputThread {
    BlockQueue& queue;
    std::thread thread;

    InputThread(SignalSource& source, GreedyTally& greedy, BlockQueue& blocks)
        : queue(blocks), thread(produce, std::ref(source), std::ref(greedy), std::ref(blocks)) {}
    InputThread(const InputThread&) = delete;
    InputThread& operator=(const InputThread&) = delete;
    ~InputThread() {
        {
            std::lock_guard lock(queue.mutex);
            queue.stop = true;
        }
        queue.changed.notify_all();
        thread.join();
    }
};

// The error the search minimises (weighted, when it shapes the noise) of the written codes, and
// the greedy encoder's on the same signal, over the samples whose codes reach the file. The search comes out ahead
// on every signal we measured, but it gives no guarantee; this does: if greedy coding would
// have been better, the message is made again that way.
struct ErrorTally {
    std::vector<std::int16_t> waiting;  // samples searched whose codes are not yet decided
    std::size_t next = 0;                // the oldest of them
    ErrorMeter search;
    std::uint64_t greedyError = 0;
    std::uint64_t lastGreedy = 0;  // the last sample's share, taken back if its code is dropped
};

void tallySamples(ErrorTally& tally, const SignalBlock& block) {
    // Keep only what is still waiting, then add the new samples behind it.
    tally.waiting.erase(tally.waiting.begin(), tally.waiting.begin() + static_cast<std::ptrdiff_t>(tally.next));
    tally.next = 0;
    tally.waiting.insert(tally.waiting.end(), block.samples.begin(), block.samples.end());
    tally.greedyError = block.greedyError;
    tally.lastGreedy = block.greedyLast;
}

void tallyCodes(ErrorTally& tally, const std::uint8_t* codes, std::size_t count, bool last) {
    meterCodes(tally.search, std::span<const std::int16_t>(tally.waiting.data() + tally.next, count), codes);
    if (last) finishErrorMeter(tally.search);
    tally.next += count;
}

// `codes`: how many the search decided, all of them; an odd last one never reaches the file.
bool greedyWins(const ErrorTally& tally, std::uint64_t codes) {
    const bool dropLast = (codes & 1) != 0;
    return tally.greedyError - (dropLast ? tally.lastGreedy : 0) < tally.search.total - (dropLast ? tally.search.last : 0);
}

// Progress counts in units that fit 32 bits.
unsigned progressShift(std::uint64_t total) {
    unsigned shift = 0;
    while ((total >> shift) > UINT32_MAX) ++shift;
    return shift;
}

// The search's side of one run: it takes the blocks in order, writes the decided codes, and
// keeps the tally.
struct SearchRun {
    CodeSearch search;
    MessageWriter writer;
    ErrorTally tally;
    std::vector<std::uint8_t> codes;
    ProgressReport& progress;
    unsigned shift = 0;
    BestStats& stats;
};

ExitCode consume(SearchRun& run, const SignalBlock& block) {
    if (block.failure) std::rethrow_exception(block.failure);
    run.codes.resize(block.samples.size() + kMaxUndecided);
    std::size_t n = searchSamples(run.search, block.samples, run.codes.data());
    tallySamples(run.tally, block);
    if (block.last) n += finishSearch(run.search, run.codes.data() + n);
    tallyCodes(run.tally, run.codes.data(), n, block.last);
    run.stats.samples += block.samples.size();
    run.stats.clipped += block.clipped;
    if (!writeCodes(run.writer, run.codes.data(), n)) return kCannotWriteOutput;
    // After a failure the line stays where it was, as with `e`.
    if (block.status == kOk) run.progress.passTo(static_cast<std::uint32_t>(block.unitsLeft >> run.shift));
    return block.status;
}

// Input and search on this one thread, one block after the other.
ExitCode searchInline(SearchRun& run, SignalSource& source, GreedyTally& greedy) {
    SignalBlock block;
    ExitCode result = kOk;
    while (result == kOk && !block.last) {
        makeBlock(source, greedy, block);
        result = consume(run, block);
    }
    return result;
}

// The input on a second thread, a few blocks ahead of the search on this one.
ExitCode searchBeside(SearchRun& run, SignalSource& source, GreedyTally& greedy) {
    BlockQueue queue;
    InputThread reader(source, greedy, queue);
    ExitCode result = kOk;
    for (bool last = false; !last && result == kOk;) {
        {
            std::unique_lock lock(queue.mutex);
            queue.changed.wait(lock, [&] { return queue.filled > 0; });
        }
        const SignalBlock& block = queue.slots[queue.head];
        last = block.last;
        result = consume(run, block);
        {
            std::lock_guard lock(queue.mutex);
            queue.head = (queue.head + 1) % kBlocksAhead;
            --queue.filled;
        }
        queue.changed.notify_all();
    }
    return result;
}

// With several search threads the input thread hands each block's samples to them, and to this
// thread a mark of where the block ends and what the console and the tally learn from it.
struct BlockMark {
    std::uint64_t end = 0;  // samples of the signal up to the block's end
    std::uint64_t unitsLeft = 0;
    std::uint64_t clipped = 0;
    std::uint64_t greedyError = 0;
    std::uint64_t greedyLast = 0;
    ExitCode status = kOk;
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
        if (!pushMark(marks, {end, block.unitsLeft, block.clipped, block.greedyError, block.greedyLast, block.status, block.failure,
                              block.last})) {
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
ExitCode takeSplitCodes(SearchRun& run, SplitSearch& split, MarkQueue& marks) {
    constexpr std::size_t kTake = 4096;
    std::array<std::uint8_t, kTake> codes;
    std::array<std::int16_t, kTake> samples;
    std::uint64_t written = 0;
    for (;;) {
        BlockMark mark;
        if (!popMark(marks, mark)) {
            takeCodes(split, 0, codes.data(), samples.data());  // throws what stopped the search
            return kInternalError;
        }
        if (mark.failure) std::rethrow_exception(mark.failure);
        const std::uint64_t frames = mark.end / kFrameLength * kFrameLength;
        const std::uint64_t due = mark.last ? UINT64_MAX : std::max<std::uint64_t>(frames, kSearchDelay) - kSearchDelay;
        run.stats.samples = mark.end;
        run.stats.clipped += mark.clipped;
        while (written < due) {
            const std::size_t n = takeCodes(split, static_cast<std::size_t>(std::min<std::uint64_t>(kTake, due - written)), codes.data(), samples.data());
            if (n == 0) break;
            meterCodes(run.tally.search, std::span<const std::int16_t>(samples.data(), n), codes.data());
            if (!writeCodes(run.writer, codes.data(), n)) return kCannotWriteOutput;
            written += n;
        }
        // Short only if the search stopped, which this thread alone asks for.
        if (written < due && !mark.last) return kInternalError;
        if (mark.last) finishErrorMeter(run.tally.search);
        run.tally.greedyError = mark.greedyError;
        run.tally.lastGreedy = mark.greedyLast;
        if (mark.status == kOk) run.progress.passTo(static_cast<std::uint32_t>(mark.unitsLeft >> run.shift));
        if (mark.status != kOk || mark.last) return mark.status;
    }
}

// The search over several threads, the input on one more.
ExitCode searchSplit(SearchRun& run, SignalSource& source, GreedyTally& greedy, const BestOptions& options, unsigned threads) {
    const SplitSearchPtr split = startSplitSearch(options.search, options.split, threads);
    MarkQueue marks;
    ExitCode result = kOk;
    {
        SplitInputThread reader(source, greedy, marks, *split);
        result = takeSplitCodes(run, *split, marks);
    }
    run.stats.split = splitCounts(*split);
    return result;
}

// Whether the signal reaches the first place a second thread could take over; an input of
// unknown length may.
bool worthSplitting(const SignalSource& source, const SplitShape& shape) {
    if (source.byBytes) return true;
    const double samples = static_cast<double>(source.format.frames) * kMessageRate / source.format.sampleRate;
    return samples > usableShape(shape).segment;
}

// The message again, coded by the greedy encoder, over the one already written, and cut to
// its length. An output that cannot be rewound (a pipe) keeps the search's codes.
ExitCode recodeGreedily(InStream& input, OutStream& output, const PromptPlan* plan, BestStats& stats) {
    if (!rewindOutput(output)) return output.failed ? kCannotWriteOutput : kOk;
    SignalSource source;
    if (const ExitCode rc = openSignal(input, source, plan); rc != kOk) return rc;
    MessageWriter writer{output};
    AdpcmState state;
    SignalBlock block;
    while (!block.last) {
        nextBlock(source, block);
        if (block.status != kOk) return block.status;
        for (const std::int16_t s : block.samples) {
            if (!writeCode(writer, encodeSample(s, state))) return kCannotWriteOutput;
        }
    }
    if (!truncateOutput(output)) return kCannotWriteOutput;
    stats.codes = WrittenCodes::kGreedy;
    return kOk;
}

// The first pass, when the prompt's level or length is to change: its active speech level and
// where the speech starts and ends. A file cut short is measured as far as it goes, as the
// second pass will encode it.
ExitCode measurePrompt(InStream& input, SpeechLevel& level) {
    SignalSource source;
    if (const ExitCode rc = openSignal(input, source); rc != kOk) return rc;
    SpeechMeter meter = makeSpeechMeter();
    for (bool last = false; !last;) {
        const ExitCode rc = readValues(source, last);
        if (rc != kOk && rc != kCorrupted) return rc;
        meterSamples(meter, source.values);
    }
    level = finishMeter(meter);
    return kOk;
}

// The plan for the prompt, or none when nothing is to change.
ExitCode planShaping(InStream& input, const PromptOptions& options, PromptPlan& plan, PromptReport& report) {
    SpeechLevel level;
    if (const ExitCode rc = measurePrompt(input, level); rc != kOk) return rc;
    plan = planPrompt(level, options);
    report.measured = true;
    report.active = plan.active;
    report.levelBeforeDb = plan.levelBeforeDb;
    report.gainDb = plan.gainDb;
    report.levelAfterDb = plan.levelBeforeDb;
    report.trimmedStartSeconds = plan.trimmedStartSeconds;
    report.trimmedEndSeconds = plan.trimmedEndSeconds;
    return kOk;
}

}  // namespace

ExitCode encodeBestMessage(InStream& input, OutStream& output, ProgressReport progress, const BestOptions& options,
                           BestStats& stats) {
    stats = {};
    PromptPlan plan;
    if (options.prompt.level || options.prompt.trim) {
        if (const ExitCode rc = planShaping(input, options.prompt, plan, stats.prompt); rc != kOk) return rc;
    }
    const PromptPlan* shaping = stats.prompt.measured && !planChangesNothing(plan) ? &plan : nullptr;
    SignalSource source;
    if (const ExitCode rc = openSignal(input, source, shaping); rc != kOk) return rc;
    const unsigned shift = progressShift(source.totalUnits);
    progress.start(static_cast<std::uint32_t>(source.totalUnits >> shift));

    SearchRun run{makeCodeSearch(options.search), MessageWriter{output}, {}, {}, progress, shift, stats};
    run.tally.search = makeErrorMeter(options.search);
    GreedyTally greedy{{}, makeErrorMeter(options.search), {}};
#ifdef __EMSCRIPTEN__
    const bool background = false;  // built without threads
    const unsigned threads = 1;
#else
    const bool background = options.background;
    const unsigned threads = std::min(options.threads, kMaxSearchThreads);
#endif
    ExitCode result = kOk;
    if (threads > 1 && worthSplitting(source, options.split)) {
        result = searchSplit(run, source, greedy, options, threads);
    } else {
        result = background ? searchBeside(run, source, greedy) : searchInline(run, source, greedy);
    }
    if (result != kOk) return result;
    if (shaping != nullptr) stats.prompt.levelAfterDb = finishMeter(source.output).activeDb;
    if (greedyWins(run.tally, run.writer.codes)) {
        if (const ExitCode rc = recodeGreedily(input, output, shaping, stats); rc != kOk) return rc;
    }
    progress.finish(static_cast<std::uint32_t>(std::min<std::uint64_t>(stats.samples / kMessageRate, UINT32_MAX)));
    return kOk;
}

}  // namespace aamsg
