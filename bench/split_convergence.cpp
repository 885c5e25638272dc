// How soon a search started afresh part way through a signal comes to the state of the search
// from the start, on 8 kHz 16-bit mono WAVE files: for a start every STEP samples, the frames
// until their snapshots are first equal (from there on they decide the same codes), or -1 when
// that has not happened within LIMIT frames. The split's layout (src/search/split_search.hpp) is
// chosen from these figures: bench/split_model.py plays the split's schedule over them.
//   aamsg_split_convergence [--flat] [--step SAMPLES] [--limit FRAMES] FILE...
// prints "FILE START FRAMES" a line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "search/search.hpp"
#include "wave/wave.hpp"
#include "wave_file.hpp"

namespace {

// A snapshot's words hashed (FNV-1a): equal states, equal hashes; for a measurement, a clash of
// 64-bit hashes is too rare to matter.
std::uint64_t hashOf(const aamsg::CodeSearch& search, aamsg::SearchSnapshot& snapshot) {
    aamsg::snapshotSearch(search, snapshot);
    std::uint64_t hash = 14695981039346656037u;
    for (const std::uint64_t word : snapshot.words) hash = (hash ^ word) * 1099511628211u;
    return hash;
}

}  // namespace

int main(int argc, char** argv) {
    aamsg::SearchSettings settings;
    std::size_t step = 800;
    std::size_t limit = 200;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        const std::string option = argv[first];
        if (option == "--flat") {
            settings.shaped = false;
            continue;
        }
        if (first + 1 >= argc) return 2;
        const std::size_t value = std::strtoul(argv[++first], nullptr, 10);
        if (option == "--step") step = value / aamsg::kFrameLength * aamsg::kFrameLength;
        else if (option == "--limit") limit = value;
        else return 2;
    }
    if (first >= argc || step == 0) {
        std::fputs("usage: aamsg_split_convergence [--flat] [--step SAMPLES] [--limit FRAMES] FILE...\n", stderr);
        return 2;
    }
    constexpr std::size_t kFrame = aamsg::kFrameLength;
    std::vector<std::uint8_t> codes(kFrame + aamsg::kMaxUndecided);
    aamsg::SearchSnapshot snapshot;
    for (int f = first; f < argc; ++f) {
        const std::vector<std::int16_t> signal = aamsg::bench::readWave(argv[f]);
        const std::size_t frames = signal.size() / kFrame;
        // The one search's state after every frame.
        std::vector<std::uint64_t> truth(frames + 1);
        aamsg::CodeSearch search = aamsg::makeCodeSearch(settings);
        for (std::size_t i = 0; i < frames; ++i) {
            aamsg::searchSamples(search, std::span<const std::int16_t>(signal.data() + i * kFrame, kFrame), codes.data());
            truth[i + 1] = hashOf(search, snapshot);
        }
        for (std::size_t start = step; start + kFrame <= frames * kFrame; start += step) {
            std::array<std::int16_t, aamsg::kFrameHistory> history;
            std::copy(signal.begin() + static_cast<std::ptrdiff_t>(start - aamsg::kFrameHistory), signal.begin() + static_cast<std::ptrdiff_t>(start),
                      history.begin());
            aamsg::restartSearchAt(search, history);
            long converged = -1;
            for (std::size_t n = 1; n <= limit && start / kFrame + n <= frames; ++n) {
                const std::size_t at = start + (n - 1) * kFrame;
                aamsg::searchSamples(search, std::span<const std::int16_t>(signal.data() + at, kFrame), codes.data());
                if (hashOf(search, snapshot) == truth[start / kFrame + n]) {
                    converged = static_cast<long>(n);
                    break;
                }
            }
            std::printf("%s %zu %ld\n", argv[f], start, converged);
        }
    }
    return 0;
}
