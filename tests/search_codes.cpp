// Prints a hash of the search's codes for raw 16-bit mono files, under each of a table of
// settings, with the instruction set of the beam step named (the best this processor runs by
// default): the web tests run it as WebAssembly under node and natively with the scalar step,
// and compare; cross builds run it under an emulator.
//   aamsg_search_codes [--isa scalar|avx2|avx512|neon] FILE...
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "search/search.hpp"

namespace {

std::vector<std::int16_t> readRaw(const char* path) {
    std::vector<std::int16_t> samples;
    if (std::FILE* file = std::fopen(path, "rb")) {
        unsigned char bytes[2];
        while (std::fread(bytes, 1, 2, file) == 2) samples.push_back(static_cast<std::int16_t>(bytes[0] | bytes[1] << 8));
        std::fclose(file);
    }
    return samples;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace aamsg;
    InstructionSet set = InstructionSet::kBest;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--isa") == 0) {
        const std::optional<InstructionSet> named = instructionSetNamed(argv[2]);
        if (!named) return 2;
        set = *named;
        first = 3;
    }
    if (beamStepFor(set) == nullptr) return 2;
    // The defaults of both modes, and settings at the edges.
    struct Setting {
        bool shaped;
        int paths, tries, lookahead, mergeShift;
    };
    const Setting table[] = {{true, kModeDefault, 5, kModeDefault, kModeDefault},
                             {false, kModeDefault, 5, kModeDefault, kModeDefault},
                             {true, 1, 1, 0, 0},
                             {false, 37, 8, kMaxSearchLookahead, 16}};
    for (int f = first; f < argc; ++f) {
        const std::vector<std::int16_t> samples = readRaw(argv[f]);
        for (const Setting& t : table) {
            SearchSettings settings;
            settings.shaped = t.shaped;
            settings.paths = t.paths;
            settings.tries = t.tries;
            settings.lookahead = t.lookahead;
            settings.mergeShift = t.mergeShift;
            settings.instructionSet = set;
            CodeSearch search = makeCodeSearch(settings);
            std::vector<std::uint8_t> codes(samples.size() + kMaxUndecided);
            std::size_t n = searchSamples(search, samples, codes.data());
            n += finishSearch(search, codes.data() + n);
            std::uint64_t hash = 14695981039346656037u;
            for (std::size_t i = 0; i < n; ++i) hash = (hash ^ codes[i]) * 1099511628211u;
            const char* name = std::strrchr(argv[f], '/') != nullptr ? std::strrchr(argv[f], '/') + 1 : argv[f];
            std::printf("%s %d %d %d %d %d: %zu codes, %016llx\n", name, t.shaped, t.paths, t.tries, t.lookahead, t.mergeShift, n,
                        static_cast<unsigned long long>(hash));
        }
    }
    std::printf("isa %s\n", instructionSetName(set));
    return 0;
}
