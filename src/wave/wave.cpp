// The RIFF chunk walk to "fmt " and "data".
#include "wave/wave.hpp"

#include <cstring>

#include "base/failure.hpp"

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
    return seekRelative(input, delta) ? kOk : fail(kCannotReadInput, "seeking in the input failed");
}

// What `e` takes, for the sentences that refuse the rest.
constexpr const char* kWhatEncodeReads = "e reads 8- and 16-bit PCM, mono or stereo, and 32-bit mono";

// The samples of a WAVE file that is not integer PCM, in a few words.
const char* encodingOf(std::uint16_t formatTag) {
    switch (formatTag) {
        case 2: return "MS ADPCM";
        case 3: return "floating-point";
        case 6: return "A-law";
        case 7: return "mu-law";
        case 0x11: return "IMA ADPCM";
        case 0x31: return "GSM 6.10";
        case 0x50:
        case 0x55: return "MPEG";
        case 0xFFFE: return "WAVE_FORMAT_EXTENSIBLE";
        default: return nullptr;
    }
}

Status notPcm(const WaveFormat& format) {
    const char* encoding = encodingOf(format.formatTag);
    if (encoding == nullptr) {
        return fail(kNotPcm, "its samples are of format 0x%04X: %s", static_cast<unsigned>(format.formatTag), kWhatEncodeReads);
    }
    return fail(kNotPcm, "a %u-bit %s WAVE file: %s", static_cast<unsigned>(format.bitsPerSample), encoding, kWhatEncodeReads);
}

}  // namespace

Status findChunk(InStream& input, const char* id, ByteOrder order, ChunkHeader& chunk) {
    for (;;) {
        if (const Status rc = readChunkHeader(input, order, chunk); rc != kOk) {
            return rc == kCorrupted ? fail(kCorrupted, "the file ends before its \"%.4s\" chunk", id) : rc;
        }
        if (std::memcmp(chunk.id, id, 4) == 0) return kOk;
        if (const Status rc = skipBy(input, static_cast<std::int64_t>(chunk.size) + (chunk.size & 1)); rc != kOk) return rc;
    }
}

Status readWaveHeader(InStream& input, WaveFormat& format, std::uint32_t& frameCount) {
    std::uint8_t riff[12];
    if (const Status rc = readExactly(input, riff, sizeof riff, kNotAudioFile); rc != kOk) {
        return rc == kNotAudioFile ? fail(kNotAudioFile, "it is shorter than a RIFF WAVE header") : rc;
    }
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
        return fail(kNotAudioFile, "it does not start with a RIFF WAVE header");
    }

    // Whatever comes before "fmt ", a "data" chunk included, is passed over.
    ChunkHeader chunk{};
    if (const Status rc = findChunk(input, "fmt ", ByteOrder::kLittle, chunk); rc != kOk) return rc;

    std::uint8_t body[16];
    if (const Status rc = readExactly(input, body, sizeof body, kCorrupted); rc != kOk) {
        return rc == kCorrupted ? fail(kCorrupted, "its \"fmt \" chunk is cut short") : rc;
    }
    format.formatTag = loadU16le(body);
    format.channels = loadU16le(body + 2);
    format.sampleRate = loadU32le(body + 4);
    format.blockAlign = loadU16le(body + 12);
    format.bitsPerSample = loadU16le(body + 14);
    if (format.formatTag != 1) return notPcm(format);

    // Extension bytes of a longer "fmt " are passed over; a chunk declaring fewer than 16
    // bytes moves back to where its successor starts.
    if (const Status rc = skipBy(input, static_cast<std::int64_t>(chunk.size) - 16); rc != kOk) return rc;

    if (const Status rc = findChunk(input, "data", ByteOrder::kLittle, chunk); rc != kOk) return rc;

    if (format.blockAlign != 1 && format.blockAlign != 2 && format.blockAlign != 4) {
        return fail(kCorrupted, "its frames are %u bytes (%u channel%s of %u bits): %s", static_cast<unsigned>(format.blockAlign),
                    static_cast<unsigned>(format.channels), format.channels == 1 ? "" : "s",
                    static_cast<unsigned>(format.bitsPerSample), kWhatEncodeReads);
    }
    // The rate converter divides by the rate.
    if (format.sampleRate == 0) return fail(kCorrupted, "its sample rate is 0");
    frameCount = chunk.size / format.blockAlign;
    if (frameCount == 0) return fail(kCorrupted, "its \"data\" chunk holds no whole frame");
    return kOk;
}

}  // namespace aamsg
