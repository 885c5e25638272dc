// `q`: any audio file to a message file, through FFmpeg, libsoxr and the code search. The
// passes and the threads are tied together here; each has its own file.
#include <algorithm>

#include "convert/block_queue.hpp"
#include "convert/conversions.hpp"
#include "convert/prompt_plan.hpp"
#include "convert/recode.hpp"
#include "convert/search_run.hpp"
#include "convert/split_driver.hpp"

namespace aamsg {

namespace {

Status consume(SearchRun& run, const SignalBlock& block) {
    if (block.failure) std::rethrow_exception(block.failure);
    run.codes.resize(block.samples.size() + kMaxUndecided);
    std::size_t n = searchSamples(run.search, block.samples, run.codes.data());
    tallySamples(run.tally, block);
    if (block.last) n += finishSearch(run.search, run.codes.data() + n);
    tallyCodes(run.tally, run.codes.data(), n, block.last);
    run.stats.samples += block.samples.size();
    run.stats.clipped += block.clipped;
    run.stats.notNumbers += block.notNumbers;
    if (!writeCodes(run.writer, run.codes.data(), n)) return kCannotWriteOutput;
    // After a failure the progress stays where it was, as with `e`.
    if (block.status == kOk) run.progress.passTo(run.scale.encoding(block.unitsLeft));
    if (run.progress.cancelled) return kCancelled;
    return takeStatus(block.status, block.note);
}

// Input and search on this one thread, one block after the other.
Status searchInline(SearchRun& run, SignalSource& source, GreedyTally& greedy) {
    SignalBlock block;
    Status result = kOk;
    while (result == kOk && !block.last) {
        makeBlock(source, greedy, block);
        result = consume(run, block);
    }
    return result;
}

// The input on a second thread, a few blocks ahead of the search on this one.
Status searchBeside(SearchRun& run, SignalSource& source, GreedyTally& greedy) {
    BlockQueue queue;
    InputThread reader(source, greedy, queue);
    Status result = kOk;
    for (bool last = false; !last && result == kOk;) {
        const SignalBlock& block = takeBlock(queue);
        last = block.last;
        result = consume(run, block);
        releaseBlock(queue);
    }
    return result;
}

SearchSettings settingsOf(const BestOptions& options) {
    if (options.search != nullptr) return *options.search;
    SearchSettings settings;
    settings.shaped = options.shaped;
    return settings;
}

}  // namespace

Status encodeBestMessage(InStream& input, OutStream& output, ProgressReport& progress, const BestOptions& options,
                         BestStats& stats) {
    stats = {};
    const SearchSettings settings = settingsOf(options);
    const PromptOptions promptOptions{options.level, options.levelDb, options.trim};
    PromptPlan plan;
    ProgressScale scale;
    const bool measured = promptOptions.level || promptOptions.trim;
    // The input's sound is measured on the first pass that reads it.
    SoundMeter sound;
    if (measured) {
        if (const Status rc = planShaping(input, promptOptions, plan, stats.prompt, progress, scale, &sound); rc != kOk) return rc;
    }
    const PromptPlan* shaping = stats.prompt.measured && !planChangesNothing(plan) ? &plan : nullptr;
    SignalSource source;
    if (const Status rc = openSignal(input, source, shaping); rc != kOk) return rc;
    if (!measured) {
        source.sound = &sound;
        scale = progressScale(source.totalUnits, false);
        progress.start(scale.units());
        if (progress.cancelled) return kCancelled;
    }

    SearchRun run{makeCodeSearch(settings), MessageWriter{output}, {}, {}, progress, scale, stats};
    run.tally.search = makeErrorMeter(settings);
    GreedyTally greedy{{}, makeErrorMeter(settings), {}};
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    const bool background = false;  // built without threads
    const unsigned threads = 1;
#else
    const bool background = options.background;
    const unsigned threads = std::min(options.threads, kMaxSearchThreads);
#endif
    const SplitLayout layout = options.split != nullptr ? *options.split : SplitLayout{};
    Status result = kOk;
    if (threads > 1 && worthSplitting(source, layout)) {
        result = searchSplit(run, source, greedy, settings, layout, threads);
    } else {
        result = background ? searchBeside(run, source, greedy) : searchInline(run, source, greedy);
    }
    if (result != kOk) return result;
    if (shaping != nullptr) stats.prompt.levelAfterDb = finishMeter(source.output).activeDb;
    stats.findings = conversionFindings(finishSoundMeter(sound, source.format.sampleRate), plan.gainDb, !options.shaped);
    if (greedyWins(run.tally, run.writer.codes)) {
        if (const Status rc = recodeGreedily(input, output, shaping, stats); rc != kOk) return rc;
    }
    progress.finish(static_cast<std::uint32_t>(std::min<std::uint64_t>(stats.samples / kMessageRate, UINT32_MAX)));
    return kOk;
}

}  // namespace aamsg
