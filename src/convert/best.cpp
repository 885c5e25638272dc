// `q`: any audio file to a message file, through libsndfile, libsoxr and the code search.
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/audio.hpp"
#include "codec/adpcm.hpp"
#include "convert/convert.hpp"
#include "search/search.hpp"

namespace aamsg {

namespace {

// Input frames read a block; large blocks keep the hand-over between the two threads rare
// (at 4096 frames it cost a tenth of the run).
constexpr std::size_t kFramesPerRead = 32768;

// A run of the input at the message rate, with where the input stood after it.
struct SignalBlock {
    std::vector<std::int16_t> samples;
    std::uint64_t unitsLeft = 0;  // input units (frames, or bytes) not yet read
    std::uint64_t clipped = 0;
    ExitCode status = kOk;  // not kOk: the input failed after these samples
    bool last = false;
};

// The input side: reads, averages, converts the rate, clips and rounds, a block at a time.
struct SignalSource {
    AudioFilePtr file;
    ResamplerPtr resampler;  // none at 8000 per second
    AudioFormat format;
    std::uint64_t totalUnits = 0;  // frames, or bytes when the frame count is unknown
    bool byBytes = false;
    std::uint64_t framesRead = 0;
    std::vector<float> mono = std::vector<float>(kFramesPerRead);
    std::vector<float> converted;
};

std::uint64_t unitsLeft(const SignalSource& source) {
    const std::uint64_t done = source.byBytes ? audioBytesRead(*source.file) : source.framesRead;
    return source.totalUnits - std::min(source.totalUnits, done);
}

// Rounds to the nearest integer and holds the result to the format's range; the format never
// reconstructs -32768, so neither is it asked to.
void appendSamples(const float* values, std::size_t count, SignalBlock& block) {
    for (std::size_t i = 0; i < count; ++i) {
        float v = values[i];
        if (!(v <= 32767.0f && v >= -32767.0f)) {
            ++block.clipped;
            v = v > 0.0f ? 32767.0f : -32767.0f;  // NaN, from a broken float file, is clipped too
        }
        block.samples.push_back(static_cast<std::int16_t>(std::lrint(v)));
    }
}

// Converts `count` mono samples (none: the filter's tail) into the block.
void convertRate(SignalSource& source, const float* mono, std::size_t count, SignalBlock& block) {
    if (!source.resampler) {
        appendSamples(mono, count, block);
        return;
    }
    for (;;) {
        std::size_t used = 0;
        const std::size_t made = resample(*source.resampler, mono, count, used, source.converted.data(), source.converted.size());
        appendSamples(source.converted.data(), made, block);
        if (made == 0 && used == 0 && count > 0) return;  // the library refuses: never spin
        if (mono != nullptr) {
            mono += used;
            count -= used;
            if (count == 0 && made < source.converted.size()) return;
        } else if (made == 0) {
            return;
        }
    }
}

void nextBlock(SignalSource& source, SignalBlock& block) {
    block.samples.clear();
    block.clipped = 0;
    block.status = kOk;
    std::size_t got = 0;
    const ExitCode rc = readMono(*source.file, source.mono.data(), source.mono.size(), got);
    source.framesRead += got;
    convertRate(source, source.mono.data(), got, block);
    if (got == 0 || rc != kOk) {
        // The end, or a failure: what arrived before it is still encoded.
        convertRate(source, nullptr, 0, block);
        block.status = rc;
        block.last = true;
    }
    block.unitsLeft = block.last ? 0 : unitsLeft(source);
}

ExitCode openSignal(InStream& input, SignalSource& source) {
    if (const ExitCode rc = openAudio(input, source.file, source.format); rc != kOk) return rc;
    if (source.format.sampleRate != kMessageRate) {
        if (const ExitCode rc = makeResampler(source.format.sampleRate, source.resampler); rc != kOk) return rc;
        // Room for one read's worth of output and the filter's tail at once.
        source.converted.resize(kFramesPerRead * kMessageRate / source.format.sampleRate + 4096);
    }
    source.byBytes = source.format.frames == kUnknownFrames;
    if (source.byBytes) {
        source.totalUnits = inputSize(input).value_or(0);
    } else {
        source.totalUnits = source.format.frames;
    }
    return kOk;
}

// Blocks handed from the input thread to the search, at most a few ahead.
struct BlockQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<SignalBlock> ready;
    std::vector<SignalBlock> spare;
    bool stop = false;  // the consumer has given up
};

constexpr std::size_t kBlocksAhead = 4;

void produce(SignalSource& source, BlockQueue& queue) {
    for (bool last = false; !last;) {
        SignalBlock block;
        {
            std::unique_lock lock(queue.mutex);
            queue.changed.wait(lock, [&] { return queue.stop || queue.ready.size() < kBlocksAhead; });
            if (queue.stop) return;
            if (!queue.spare.empty()) {
                block = std::move(queue.spare.back());
                queue.spare.pop_back();
            }
        }
        // An exception may not leave a thread (that ends the process): it ends the input
        // instead, as a failure the consumer reports.
        try {
            nextBlock(source, block);
        } catch (...) {
            block.samples.clear();
            block.status = kInternalError;
            block.last = true;
        }
        last = block.last;
        std::lock_guard lock(queue.mutex);
        queue.ready.push_back(std::move(block));
        queue.changed.notify_all();
    }
}

// The input thread, stopped and joined however the consumer leaves, an exception included.
struct InputThread {
    BlockQueue& queue;
    std::thread thread;

    InputThread(SignalSource& source, BlockQueue& blocks) : queue(blocks), thread(produce, std::ref(source), std::ref(blocks)) {}
    InputThread(const InputThread&) = delete;
    InputThread& operator=(const InputThread&) = delete;
    ~InputThread() {
        {
            std::lock_guard lock(queue.mutex);
            queue.stop = true;
            queue.changed.notify_all();
        }
        thread.join();
    }
};

// Codes two to a byte, high nibble first; an odd final code is dropped, as `e` does.
struct CodeWriter {
    OutStream& output;
    std::uint64_t count = 0;
    std::uint8_t pending = 0;

    bool write(const std::uint8_t* codes, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if ((count++ & 1) == 0) {
                pending = static_cast<std::uint8_t>(codes[i] << kHighNibbleShift);
            } else if (!writeByte(output, static_cast<std::uint8_t>(pending | codes[i]))) {
                return false;
            }
        }
        return true;
    }
};

// The error the search minimises (weighted, when shaped) of the written codes, and of the
// greedy encoder's codes on the same signal, over the samples whose codes reach the file. The
// search comes out ahead on every signal we measured, but it gives no guarantee; this does: if
// greedy coding would have been better, the message is made again that way.
struct ErrorTally {
    std::vector<std::int16_t> waiting;  // samples searched whose codes are not yet decided
    std::size_t next = 0;                // the oldest of them
    std::vector<std::uint8_t> greedyCodes;
    AdpcmState greedy;
    ErrorMeter search;
    ErrorMeter greedyMeter;
    std::uint64_t count = 0;

    explicit ErrorTally(const SearchSettings& settings) : search(makeErrorMeter(settings)), greedyMeter(makeErrorMeter(settings)) {}

    void take(const SignalBlock& block) {
        // Keep only what is still waiting, then add the new samples behind it.
        waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(next));
        next = 0;
        waiting.insert(waiting.end(), block.samples.begin(), block.samples.end());
    }

    void decided(const std::uint8_t* codes, std::size_t n) {
        const std::span<const std::int16_t> samples(waiting.data() + next, n);
        greedyCodes.clear();
        for (const std::int16_t s : samples) greedyCodes.push_back(static_cast<std::uint8_t>(encodeSample(s, greedy)));
        meterCodes(search, samples, codes);
        meterCodes(greedyMeter, samples, greedyCodes.data());
        next += n;
        count += n;
    }

    bool greedyWins() {
        finishMeter(search);
        finishMeter(greedyMeter);
        const bool dropLast = (count & 1) != 0;
        return greedyMeter.total - (dropLast ? greedyMeter.last : 0) < search.total - (dropLast ? search.last : 0);
    }
};

// The message again, coded by the greedy encoder, over the one already written.
ExitCode recodeGreedily(InStream& input, OutStream& output) {
    if (!seekRelative(input, -static_cast<std::int64_t>(tellInput(input)))) return kCannotReadInput;
    if (!rewindOutput(output)) return kOk;  // not a file that can be written again: keep the search's
    SignalSource source;
    if (const ExitCode rc = openSignal(input, source); rc != kOk) return rc;
    CodeWriter writer{output};
    AdpcmState state;
    std::vector<std::uint8_t> codes;
    SignalBlock block;
    while (!block.last) {
        nextBlock(source, block);
        if (block.status != kOk) return block.status;
        codes.clear();
        for (const std::int16_t s : block.samples) codes.push_back(static_cast<std::uint8_t>(encodeSample(s, state)));
        if (!writer.write(codes.data(), codes.size())) return kCannotWriteOutput;
    }
    return kOk;
}

// Progress counts in units that fit 32 bits.
unsigned progressShift(std::uint64_t total) {
    unsigned shift = 0;
    while ((total >> shift) > UINT32_MAX) ++shift;
    return shift;
}

}  // namespace

ExitCode encodeBestMessage(InStream& input, OutStream& output, ProgressReport progress, const BestEncodeOptions& options,
                           BestEncodeStats& stats) {
    stats = {};
    SignalSource source;
    if (const ExitCode rc = openSignal(input, source); rc != kOk) return rc;
    const unsigned shift = progressShift(source.totalUnits);
    progress.start(static_cast<std::uint32_t>(source.totalUnits >> shift));

    CodeSearch search = makeCodeSearch(options.search);
    CodeWriter writer{output};
    ErrorTally tally(options.search);
    std::vector<std::uint8_t> codes;
    ExitCode result = kOk;
    const auto consume = [&](const SignalBlock& block) {
        codes.resize(block.samples.size() + kMaxUndecided);
        std::size_t n = searchSamples(search, block.samples, codes.data());
        tally.take(block);
        if (block.last) n += finishSearch(search, codes.data() + n);
        tally.decided(codes.data(), n);
        stats.samples += block.samples.size();
        stats.clipped += block.clipped;
        if (!writer.write(codes.data(), n)) return kCannotWriteOutput;
        // After a failure the line stays where it was, as with `e`.
        if (block.status == kOk) progress.passTo(static_cast<std::uint32_t>(block.unitsLeft >> shift));
        return block.status;
    };

#ifdef __EMSCRIPTEN__
    const bool background = false;  // built without threads
#else
    const bool background = options.background;
#endif
    if (!background) {
        SignalBlock block;
        while (result == kOk && !block.last) {
            nextBlock(source, block);
            result = consume(block);
        }
    } else {
        BlockQueue queue;
        InputThread reader(source, queue);
        for (bool last = false; !last && result == kOk;) {
            SignalBlock block;
            {
                std::unique_lock lock(queue.mutex);
                queue.changed.wait(lock, [&] { return !queue.ready.empty(); });
                block = std::move(queue.ready.front());
                queue.ready.pop_front();
                queue.changed.notify_all();
            }
            last = block.last;
            result = consume(block);
            std::lock_guard lock(queue.mutex);
            queue.spare.push_back(std::move(block));
        }
    }
    if (result != kOk) return result;
    if (tally.greedyWins()) {
        stats.recoded = true;
        if (const ExitCode rc = recodeGreedily(input, output); rc != kOk) return rc;
    }
    const std::uint64_t seconds = stats.samples / kMessageRate;
    progress.finish(static_cast<std::uint32_t>(std::min<std::uint64_t>(seconds, UINT32_MAX)));
    return kOk;
}

}  // namespace aamsg
