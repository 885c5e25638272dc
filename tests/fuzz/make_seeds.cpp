// Writes the fuzzers' seed corpora: WAVE files of every accepted layout and chunk arrangement,
// and a few message files. Usage: make_seeds ENCODE_DIR DECODE_DIR. `q`'s corpus starts from
// the WAVE seeds and the short files of other formats the Makefile adds.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "../wave_builder.hpp"

namespace {

using aamsg::test::Bytes;

void save(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::vector<int> tone(int count, int amplitude, int centre) {
    std::vector<int> samples;
    for (int i = 0; i < count; ++i) samples.push_back(centre + static_cast<int>(amplitude * std::sin(i * 0.3)));
    return samples;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string enc = argv[1];
    const std::string dec = argv[2];
    using namespace aamsg::test;
    int n = 0;
    const auto put = [&](const Bytes& b) { save(enc + "/seed-" + std::to_string(n++) + ".wav", b); };
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
    save(dec + "/empty.msg", {});
    save(dec + "/one.msg", {0x70});
    save(dec + "/extremes.msg", Bytes(64, 0x77));
    Bytes mixed;
    for (int i = 0; i < 256; ++i) mixed.push_back(static_cast<std::uint8_t>(i));
    save(dec + "/all-bytes.msg", mixed);
    return 0;
}
