// `q` on one file with one search thread and with several, for one split layout: the time each
// takes (read, rate conversion, search and tally, as the command runs them), whether the
// messages are the same, the processor time all threads took together (what the warm-ups and
// abandoned runs cost), and how often a run started part way was taken over or abandoned.
//   aamsg_split_eval INPUT THREADS [SEGMENT WARMUP SPACING CHECKPOINTS] [flat] [once]
// `once`: the split alone, without the one-thread run to compare with.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/resource.h>

#include "convert/convert.hpp"
#include "search/split_search.hpp"
#include "search/search.hpp"

namespace {

double processorMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_stime.tv_sec)) * 1000 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

struct Run {
    double ms = 0;
    double processor = 0;  // ms
    aamsg::Outcome outcome;
    std::vector<std::uint8_t> message;
};

Run convert(const std::vector<std::uint8_t>& file, const aamsg::BestOptions& options) {
    Run run;
    aamsg::InStream input = aamsg::memoryInput(file);
    aamsg::OutStream output = aamsg::memoryOutput(run.message);
    aamsg::Request request;
    request.mode = aamsg::Mode::Best;
    request.best = options;
    const double processor = processorMs();
    const auto start = std::chrono::steady_clock::now();
    aamsg::ProgressReport progress;
    run.outcome = aamsg::runConversion(request, input, output, progress);
    run.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.processor = processorMs() - processor;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: aamsg_split_eval INPUT THREADS [SEGMENT WARMUP SPACING CHECKPOINTS] [flat] [once]\n", stderr);
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) return 1;
    std::vector<std::uint8_t> file;
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) file.push_back(static_cast<std::uint8_t>(c));
    std::fclose(in);

    aamsg::BestOptions options;
    aamsg::SearchSettings search;
    aamsg::SplitLayout given;
    options.search = &search;
    options.split = &given;
    options.threads = static_cast<unsigned>(std::atoi(argv[2]));
    int at = 3;
    if (argc >= 7 && std::strcmp(argv[3], "flat") != 0 && std::strcmp(argv[3], "once") != 0) {
        given = {static_cast<std::uint32_t>(std::atol(argv[3])), static_cast<std::uint32_t>(std::atol(argv[4])),
                         static_cast<std::uint32_t>(std::atol(argv[5])), static_cast<std::uint32_t>(std::atol(argv[6]))};
        at = 7;
    }
    bool once = false;
    for (; at < argc; ++at) {
        if (std::strcmp(argv[at], "flat") == 0) search.shaped = false;
        if (std::strcmp(argv[at], "once") == 0) once = true;
    }
    const aamsg::SplitLayout layout = aamsg::usableLayout(given);
    const Run split = convert(file, options);
    const aamsg::SplitCounts& counts = split.outcome.stats.split;
    std::printf("layout %u %u %u %u threads %u: %.0f ms (processor %.0f ms), started %llu joined %llu abandoned %llu", layout.segment,
                layout.warmUp, layout.spacing, layout.checkpoints, options.threads, split.ms, split.processor, static_cast<unsigned long long>(counts.started),
                static_cast<unsigned long long>(counts.joined), static_cast<unsigned long long>(counts.abandoned));
    if (!once) {
        options.threads = 1;
        const Run single = convert(file, options);
        const bool same = single.message == split.message && single.outcome.status == split.outcome.status;
        std::printf("; 1 thread %.0f ms (processor %.0f ms), speed-up %.2f, %s", single.ms, single.processor, single.ms / split.ms,
                    same ? "same bytes" : "DIFFERENT BYTES");
        if (!same) {
            std::printf("\n");
            return 1;
        }
    }
    std::printf("\n");
    return 0;
}
