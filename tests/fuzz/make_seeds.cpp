// Writes the fuzzer's seed corpus: WAVE files of every accepted layout and chunk arrangement,
// each for e and for q with several options, and a few message files for d, each after the
// byte that chooses its mode and options (see fuzz_convert.cpp). Usage: make_seeds DIR; the
// Makefile adds short files of other formats for q.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../wave_builder.hpp"

namespace {

using aamsg::test::Bytes;

void save(const std::string& path, std::uint8_t choice, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fputc(choice, file);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// e; q plain; q at a level of the middle, trimmed; q flat.
constexpr std::uint8_t kWaveChoices[] = {0, 2, 2 | 4 | 8 | (3 << 5), 2 | 16};
constexpr std::uint8_t kDecode = 1;

std::vector<int> tone(int count, int amplitude, int centre) {
    std::vector<int> samples;
    for (int i = 0; i < count; ++i) samples.push_back(centre + static_cast<int>(amplitude * std::sin(i * 0.3)));
    return samples;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string dir = argv[1];
    using namespace aamsg::test;
    int n = 0;
    const auto put = [&](const Bytes& b) {
        for (const std::uint8_t choice : kWaveChoices) save(dir + "/seed-" + std::to_string(n++), choice, b);
    };
    for (std::uint32_t rate : {8000u, 11025u, 44100u, 4000u, 1u}) {
        put(wave(1, rate, 8, tone(40, 100, 128)));
        put(wave(2, rate, 8, tone(40, 100, 128)));
        put(wave(1, rate, 16, tone(40, 20000, 0)));
        put(wave(2, rate, 16, tone(40, 30000, 0)));
    }
    put(riff({{"JUNK", Bytes(6, 0)}, {"fmt ", fmtBody(1, 2, 22050, 4, 16, 2)}, {"LIST", Bytes(9, 'i')}, {"data", pcm16(tone(30, 9000, 0))}}));
    put(riff({{"data", Bytes(4, 1)}, {"fmt ", fmtBody(1, 1, 16000, 2, 16)}, {"data", pcm16(tone(30, 9000, 0))}}));
    put(riff({{"fmt ", fmtBody(1, 1, 48000, 4, 32)}, {"data", Bytes(64, 0x5A)}}));
    put(riff({{"fmt ", fmtBody(3, 1, 48000, 4, 32)}, {"data", Bytes(16, 0)}}));
    put(riff({{"fmt ", fmtBody(1, 1, 8000, 2, 16)}, {"data", Bytes(10, 3), 0xFFFFFFF0u}}));
    save(dir + "/empty.msg", kDecode, {});
    save(dir + "/one.msg", kDecode, {0x70});
    save(dir + "/extremes.msg", kDecode, Bytes(64, 0x77));
    Bytes mixed;
    for (int i = 0; i < 256; ++i) mixed.push_back(static_cast<std::uint8_t>(i));
    save(dir + "/all-bytes.msg", kDecode, mixed);
    return 0;
}
