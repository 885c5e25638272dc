// Runs the code search alone on 8 kHz 16-bit mono WAVE files with given settings: per file the
// plain SNR, the searched error against the greedy encoder's (the meter's measure) and the time.
//   aamsg_search_eval [--flat] [--paths N] [--tries N] [--merge SHIFT] [--ahead N] [--margin M] [--g1 T] [--g2 T]
//                     [--tilt T] [--quiet RMS] [--tonal RATIO] [--isa scalar|avx2|avx512|neon] [--out DIR] FILE...
// --g1/--g2 in thousandths; --out writes DIR/NAME.msg for each file.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "codec/adpcm.hpp"
#include "convert/message_writer.hpp"
#include "search/error_meter.hpp"
#include "search/search.hpp"
#include "wave/wave.hpp"
#include "wave_file.hpp"
#include "../tests/measures.hpp"

namespace {

double meter(const aamsg::SearchSettings& settings, const std::vector<std::int16_t>& x, const std::vector<std::uint8_t>& codes) {
    aamsg::ErrorMeter m = aamsg::makeErrorMeter(settings);
    aamsg::meterCodes(m, x, codes.data());
    aamsg::finishErrorMeter(m);
    return static_cast<double>(m.total);
}

}  // namespace

int main(int argc, char** argv) {
    aamsg::SearchSettings settings;
    std::string out;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        const std::string option = argv[first];
        if (option == "--flat") { settings.shaped = false; continue; }
        if (first + 1 >= argc) return 2;
        const char* value = argv[++first];
        if (option == "--paths") settings.paths = std::atoi(value);
        else if (option == "--tries") settings.tries = std::atoi(value);
        else if (option == "--ahead") settings.lookahead = std::atoi(value);
        else if (option == "--merge") settings.mergeShift = std::atoi(value);
        else if (option == "--margin") settings.margin = std::atoi(value);
        else if (option == "--g1") settings.shape.zeros = std::atoi(value);
        else if (option == "--g2") settings.shape.poles = std::atoi(value);
        else if (option == "--tilt") settings.shape.tilt = std::atoi(value);
        else if (option == "--quiet") settings.shape.quietRms = std::atoi(value);
        else if (option == "--tonal") settings.shape.tonalGain = std::atoi(value);
        else if (option == "--out") out = value;
        else if (option == "--isa") {
            const std::optional<aamsg::InstructionSet> set = aamsg::instructionSetNamed(value);
            if (!set || aamsg::beamStepFor(*set) == nullptr) return 2;
            settings.instructionSet = *set;
        }
        else return 2;
    }
    double totalSeconds = 0;
    for (int f = first; f < argc; ++f) {
        const std::vector<std::int16_t> x = aamsg::bench::readWave(argv[f]);
        std::vector<std::uint8_t> codes(x.size() + aamsg::kMaxUndecided);
        const auto start = std::chrono::steady_clock::now();
        aamsg::CodeSearch search = aamsg::makeCodeSearch(settings);
        std::size_t n = aamsg::searchSamples(search, x, codes.data());
        n += aamsg::finishSearch(search, codes.data() + n);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        totalSeconds += seconds;
        codes.resize(n);
        std::vector<std::uint8_t> greedy;
        aamsg::AdpcmState state;
        for (const std::int16_t sample : x) greedy.push_back(static_cast<std::uint8_t>(aamsg::encodeSample(sample, state)));
        const double gain = 10 * std::log10(meter(settings, x, greedy) / std::max(1.0, meter(settings, x, codes)));
        const char* name = std::strrchr(argv[f], '/') != nullptr ? std::strrchr(argv[f], '/') + 1 : argv[f];
        const double snr = aamsg::test::snrDb(x, aamsg::test::decodeCodes(codes));
        std::printf("%-16s snr %6.2f  gain-over-greedy %5.2f dB  %.3f s\n", name, snr, gain, seconds);
        if (!out.empty()) {
            std::string path = out + "/" + name;
            path = path.substr(0, path.size() - 4) + ".msg";
            if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
                aamsg::OutStream output = aamsg::fileOutput(file);
                aamsg::MessageWriter writer{output};
                aamsg::writeCodes(writer, codes.data(), n);
                aamsg::closeOutput(output);
            }
        }
    }
    std::printf("total %.3f s (%s)\n", totalSeconds, aamsg::instructionSetName(settings.instructionSet));
    return 0;
}
