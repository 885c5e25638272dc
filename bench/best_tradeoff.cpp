// Runs `q`'s conversion with several search settings on one file: the message each writes, and
// the time each takes (read, rate conversion and search, as the command runs them).
//   aamsg_best_tradeoff INPUT OUTPUT_PREFIX PATHS[:LOOKAHEAD[:MERGE]][f]...
// writes OUTPUT_PREFIX-SETTING.msg for each setting; a trailing f: the flat search, without noise
// shaping; a part left out: the mode's default.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert/convert.hpp"
#include "search/search.hpp"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: aamsg_best_tradeoff INPUT OUTPUT_PREFIX PATHS...\n", stderr);
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        const int paths = std::atoi(argv[i]);
        const char* colon = std::strchr(argv[i], ':');
        const char* second = colon != nullptr ? std::strchr(colon + 1, ':') : nullptr;
        const int lookahead = colon != nullptr ? std::atoi(colon + 1) : aamsg::kModeDefault;
        const int merge = second != nullptr ? std::atoi(second + 1) : aamsg::kModeDefault;
        const std::string outName = std::string(argv[2]) + "-" + argv[i] + ".msg";
        std::FILE* in = std::fopen(argv[1], "rb");
        std::FILE* out = std::fopen(outName.c_str(), "wb");
        if (in == nullptr || out == nullptr) return 1;
        aamsg::InStream input = aamsg::fileInput(in);
        aamsg::OutStream output = aamsg::fileOutput(out);
        aamsg::Request request;
        request.mode = aamsg::Mode::Best;
        aamsg::SearchSettings search;
        search.paths = paths;
        search.lookahead = lookahead;
        search.mergeShift = merge;
        search.shaped = argv[i][std::strlen(argv[i]) - 1] != 'f';
        request.best.search = &search;
        request.best.background = std::getenv("AAMSG_BENCH_INLINE") == nullptr;
        const auto start = std::chrono::steady_clock::now();
        aamsg::ProgressReport progress;
        const aamsg::Outcome outcome = aamsg::runConversion(request, input, output, progress);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::fclose(in);
        const bool greedy = outcome.stats.codes == aamsg::WrittenCodes::kGreedy;
        std::printf("%s %.1f %d%s\n", argv[i], ms, static_cast<int>(outcome.status), greedy ? " recoded" : "");
    }
    return 0;
}
