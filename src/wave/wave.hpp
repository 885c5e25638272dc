// The WAVE reader: checks a RIFF WAVE PCM header, finds the sample data and delivers it one
// frame at a time, mixed to a single value.
#pragma once

#include <cstdint>

#include "base/base.hpp"
#include "io/bytes.hpp"
#include "io/stream.hpp"

namespace aamsg {

// The first 16 bytes of a "fmt " chunk body, as stored.
struct WaveFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
};

// A chunk's id and the size of its body.
struct ChunkHeader {
    char id[4];
    std::uint32_t size;
};

// RIFF files store sizes little-endian, AIFF (an IFF form) big-endian.
enum class ByteOrder { kLittle, kBig };

// The one chunk walk: from where the stream stands, reads chunk headers and passes over their
// bodies (and the pad byte after an odd-sized one) until the chunk `id`, whose body the stream
// then stands at. Sizes are unsigned, so the walk only moves forward and always ends. kCorrupted
// when the data end first, kCannotReadInput when a read or a seek fails.
Status findChunk(InStream& input, const char* id, ByteOrder order, ChunkHeader& chunk);

// Walks the chunks up to the sample data. On kOk `format` and `frameCount` are filled and the
// stream stands at the first byte of the "data" body; otherwise kNotAudioFile, kNotPcm,
// kCorrupted, or kCannotReadInput when the file could not be read.
Status readWaveHeader(InStream& input, WaveFormat& format, std::uint32_t& frameCount);

// One channel's value, in 16-bit sample units, from the bytes of its slot: 8-bit samples are
// unsigned and centred on 128, wider ones are little-endian signed 16-bit.
inline std::int32_t widenSample(const std::uint8_t* bytes, std::uint16_t bitsPerSample) {
    if (bitsPerSample <= 8) return (std::int32_t{bytes[0]} - 128) * 256;
    return static_cast<std::int16_t>(loadU16le(bytes));
}

// Whether the frame is one 32-bit (or 24-in-32) sample, read from its top two bytes: true for a
// frame of four bytes that is not two channels and has more than 16 bits per sample. Read from
// its low two bytes as a 16-bit sample, a little-endian 32-bit file would turn into noise.
inline bool isWideMono(const WaveFormat& format) {
    return format.blockAlign == 4 && format.channels != 2 && format.bitsPerSample > 16;
}

// A frame's value: its first channel, plus the second when there are exactly two (added, not
// averaged). Reads the first four bytes at `frame` at most; see slotsFitFrame.
inline std::int32_t mixFrame(const std::uint8_t* frame, const WaveFormat& format) {
    if (isWideMono(format)) return widenSample(frame + 2, 16);
    std::int32_t sum = widenSample(frame, format.bitsPerSample);
    if (format.channels == 2) sum += widenSample(frame + format.blockAlign / 2, format.bitsPerSample);
    return sum;
}

// Whether every byte mixFrame reads lies within the frame's own blockAlign bytes. Headers whose
// fields disagree (16-bit samples in a 1-byte frame) reach past it, and must be given a
// zero-filled copy of the frame instead.
inline bool slotsFitFrame(const WaveFormat& format) {
    if (isWideMono(format)) return true;
    const unsigned width = format.bitsPerSample <= 8 ? 1 : 2;
    const unsigned lastSlot = format.channels == 2 ? format.blockAlign / 2u : 0u;
    return lastSlot + width <= format.blockAlign;
}

// Reads `count` bytes. A short read at the end of the file is the caller's verdict
// (`whenShort`); a failed read is not the file's fault.
inline Status readExactly(InStream& input, std::uint8_t* dst, std::size_t count, Status whenShort) {
    if (readBytes(input, dst, count) == count) return kOk;
    return input.ioError ? kCannotReadInput : whenShort;
}

// Reads and mixes the next frame. kCorrupted when the frame is cut short.
inline Status readFrame(InStream& input, const WaveFormat& format, double& sample) {
    // Slots that reach past the frame's bytes read zeros from here, never outside it.
    std::uint8_t frame[4] = {0, 0, 0, 0};
    if (const Status rc = readExactly(input, frame, format.blockAlign, kCorrupted); rc != kOk) return rc;
    sample = static_cast<double>(mixFrame(frame, format));
    return kOk;
}

}  // namespace aamsg
