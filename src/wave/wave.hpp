// The WAVE reader: checks a RIFF WAVE PCM header, finds the sample data and delivers it one
// frame at a time, mixed to a single value.
#pragma once

#include <cstdint>

#include "cli/cli.hpp"
#include "io/stream.hpp"

namespace aamsg {

// The first 16 bytes of a "fmt " chunk body, as stored.
struct WaveFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
};

// Walks the chunks up to the sample data. On kOk `format` and `frameCount` are filled and the
// stream stands at the first byte of the "data" body; otherwise kNotRiffWave, kNotPcm,
// kCorrupted, or kCannotReadInput when the file could not be read.
ExitCode readWaveHeader(InStream& input, WaveFormat& format, std::uint32_t& frameCount);

// One channel's value, in 16-bit sample units, from the bytes of its slot: 8-bit samples are
// unsigned and centred on 128, wider ones are little-endian signed 16-bit.
inline std::int32_t widenSample(const std::uint8_t* bytes, std::uint16_t bitsPerSample) {
    if (bitsPerSample <= 8) return (std::int32_t{bytes[0]} - 128) * 256;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
}

// Reads the next frame as its first channel, plus the second when there are exactly two
// (added, not averaged). kCorrupted when the frame is cut short.
inline ExitCode readFrame(InStream& input, const WaveFormat& format, double& sample) {
    // Slots that reach past the frame's bytes read zeros from here, never outside it.
    std::uint8_t frame[4] = {0, 0, 0, 0};
    if (readBytes(input, frame, format.blockAlign) != format.blockAlign) {
        return input.ioError ? kCannotReadInput : kCorrupted;
    }
    std::int32_t sum = 0;
    if (format.blockAlign == 4 && format.channels != 2 && format.bitsPerSample > 16) {
        // A 32-bit (or 24-in-32) sample: its top two bytes are the 16-bit value.
        sum = static_cast<std::int16_t>(static_cast<std::uint16_t>(frame[2] | (frame[3] << 8)));
    } else {
        sum = widenSample(frame, format.bitsPerSample);
        if (format.channels == 2) sum += widenSample(frame + format.blockAlign / 2, format.bitsPerSample);
    }
    sample = static_cast<double>(sum);
    return kOk;
}

}  // namespace aamsg
