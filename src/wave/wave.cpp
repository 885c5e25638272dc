// The RIFF chunk walk to "fmt " and "data".
#include "wave/wave.hpp"

#include <cstring>

namespace aamsg {

namespace {

Status readChunkHeader(InStream& input, ByteOrder order, ChunkHeader& chunk) {
    std::uint8_t bytes[8];
    if (const Status rc = readExactly(input, bytes, sizeof bytes, kCorrupted); rc != kOk) return rc;
    std::memcpy(chunk.id, bytes, 4);
    chunk.size = order == ByteOrder::kLittle ? loadU32le(bytes + 4) : loadU32be(bytes + 4);
    return kOk;
}

// A seek past the end shows up as the next short read; a seek that fails would leave the walk
// reading from the wrong place.
Status skipBy(InStream& input, std::int64_t delta) {
    return seekRelative(input, delta) ? kOk : kCannotReadInput;
}

}  // namespace

Status findChunk(InStream& input, const char* id, ByteOrder order, ChunkHeader& chunk) {
    for (;;) {
        if (const Status rc = readChunkHeader(input, order, chunk); rc != kOk) return rc;
        if (std::memcmp(chunk.id, id, 4) == 0) return kOk;
        if (const Status rc = skipBy(input, static_cast<std::int64_t>(chunk.size) + (chunk.size & 1)); rc != kOk) return rc;
    }
}

Status readWaveHeader(InStream& input, WaveFormat& format, std::uint32_t& frameCount) {
    std::uint8_t riff[12];
    if (const Status rc = readExactly(input, riff, sizeof riff, kNotAudioFile); rc != kOk) return rc;
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return kNotAudioFile;

    // Whatever comes before "fmt ", a "data" chunk included, is passed over.
    ChunkHeader chunk{};
    if (const Status rc = findChunk(input, "fmt ", ByteOrder::kLittle, chunk); rc != kOk) return rc;

    std::uint8_t body[16];
    if (const Status rc = readExactly(input, body, sizeof body, kCorrupted); rc != kOk) return rc;
    format.formatTag = loadU16le(body);
    format.channels = loadU16le(body + 2);
    format.sampleRate = loadU32le(body + 4);
    format.blockAlign = loadU16le(body + 12);
    format.bitsPerSample = loadU16le(body + 14);
    if (format.formatTag != 1) return kNotPcm;

    // Extension bytes of a longer "fmt " are passed over; a chunk declaring fewer than 16
    // bytes moves back to where its successor starts.
    if (const Status rc = skipBy(input, static_cast<std::int64_t>(chunk.size) - 16); rc != kOk) return rc;

    if (const Status rc = findChunk(input, "data", ByteOrder::kLittle, chunk); rc != kOk) return rc;

    if (format.blockAlign != 1 && format.blockAlign != 2 && format.blockAlign != 4) return kCorrupted;
    // The rate converter divides by the rate.
    if (format.sampleRate == 0) return kCorrupted;
    frameCount = chunk.size / format.blockAlign;
    if (frameCount == 0) return kCorrupted;
    return kOk;
}

}  // namespace aamsg
