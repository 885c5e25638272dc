// The RIFF chunk walk to "fmt " and "data".
#include "wave/wave.hpp"

#include <cstring>

namespace aamsg {

namespace {

std::uint16_t u16At(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t u32At(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

struct ChunkHeader {
    char id[4];
    std::uint32_t size;
};

ExitCode readChunkHeader(InStream& input, ChunkHeader& chunk) {
    std::uint8_t bytes[8];
    if (const ExitCode rc = readExactly(input, bytes, sizeof bytes, kCorrupted); rc != kOk) return rc;
    std::memcpy(chunk.id, bytes, 4);
    chunk.size = u32At(bytes + 4);
    return kOk;
}

// Chunk sizes are unsigned, so the walk only ever moves forward and always ends; an odd-sized
// body is followed by RIFF's pad byte. A seek past the end shows up as the next short read; a
// seek that fails would leave the walk reading from the wrong place.
ExitCode skipBy(InStream& input, std::int64_t delta) {
    return seekRelative(input, delta) ? kOk : kCannotReadInput;
}

ExitCode skipChunkBody(InStream& input, const ChunkHeader& chunk) {
    return skipBy(input, static_cast<std::int64_t>(chunk.size) + (chunk.size & 1));
}

bool hasId(const ChunkHeader& chunk, const char* id) { return std::memcmp(chunk.id, id, 4) == 0; }

}  // namespace

ExitCode readWaveHeader(InStream& input, WaveFormat& format, std::uint32_t& frameCount) {
    std::uint8_t riff[12];
    if (const ExitCode rc = readExactly(input, riff, sizeof riff, kNotRiffWave); rc != kOk) return rc;
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return kNotRiffWave;

    // Whatever comes before "fmt ", a "data" chunk included, is passed over.
    ChunkHeader chunk{};
    for (;;) {
        if (const ExitCode rc = readChunkHeader(input, chunk); rc != kOk) return rc;
        if (hasId(chunk, "fmt ")) break;
        if (const ExitCode rc = skipChunkBody(input, chunk); rc != kOk) return rc;
    }

    std::uint8_t body[16];
    if (const ExitCode rc = readExactly(input, body, sizeof body, kCorrupted); rc != kOk) return rc;
    format.formatTag = u16At(body);
    format.channels = u16At(body + 2);
    format.sampleRate = u32At(body + 4);
    format.byteRate = u32At(body + 8);
    format.blockAlign = u16At(body + 12);
    format.bitsPerSample = u16At(body + 14);
    if (format.formatTag != 1) return kNotPcm;

    // Extension bytes of a longer "fmt " are passed over; a chunk declaring fewer than 16
    // bytes moves back to where its successor starts.
    if (const ExitCode rc = skipBy(input, static_cast<std::int64_t>(chunk.size) - 16); rc != kOk) return rc;

    for (;;) {
        if (const ExitCode rc = readChunkHeader(input, chunk); rc != kOk) return rc;
        if (hasId(chunk, "data")) break;
        if (const ExitCode rc = skipChunkBody(input, chunk); rc != kOk) return rc;
    }

    if (format.blockAlign != 1 && format.blockAlign != 2 && format.blockAlign != 4) return kCorrupted;
    // The rate converter divides by the rate.
    if (format.sampleRate == 0) return kCorrupted;
    frameCount = chunk.size / format.blockAlign;
    if (frameCount == 0) return kCorrupted;
    return kOk;
}

}  // namespace aamsg
