// The benchmarks' input: the samples of a 16-bit mono WAVE file, through the tool's own reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "io/stream.hpp"
#include "wave/wave.hpp"

namespace aamsg::bench {

// Empty if the file cannot be opened or is not 16-bit mono WAVE.
inline std::vector<std::int16_t> readWave(const char* path) {
    std::vector<std::int16_t> samples;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return samples;
    InStream in = fileInput(file);
    WaveFormat format;
    std::uint32_t frames = 0;
    std::uint8_t bytes[2];
    if (readWaveHeader(in, format, frames) == kOk && format.channels == 1 && format.bitsPerSample == 16) {
        while (frames-- > 0 && readBytes(in, bytes, 2) == 2) samples.push_back(static_cast<std::int16_t>(loadU16le(bytes)));
    }
    std::fclose(file);
    return samples;
}

}  // namespace aamsg::bench
