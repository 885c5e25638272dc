// Message file to 16-bit mono 8000 Hz WAVE file.
#include <array>
#include <cstring>

#include "base/failure.hpp"
#include "codec/adpcm.hpp"
#include "convert/conversions.hpp"
#include "io/bytes.hpp"

namespace aamsg {

namespace {

// The fixed 44-byte header: "RIFF" form "WAVE", a 16-byte PCM "fmt " chunk, the "data" header.
std::array<std::uint8_t, 44> waveHeader(std::uint32_t dataSize) {
    std::array<std::uint8_t, 44> h{};
    std::memcpy(h.data(), "RIFF", 4);
    storeU32le(h.data() + 4, dataSize + 36);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    storeU32le(h.data() + 16, 16);
    storeU16le(h.data() + 20, 1);
    storeU16le(h.data() + 22, 1);
    storeU32le(h.data() + 24, kMessageRate);
    storeU32le(h.data() + 28, kMessageRate * 2);
    storeU16le(h.data() + 32, 2);
    storeU16le(h.data() + 34, 16);
    std::memcpy(h.data() + 36, "data", 4);
    storeU32le(h.data() + 40, dataSize);
    return h;
}

}  // namespace

Status decodeToWave(InStream& input, OutStream& output, ProgressReport& progress) {
    const std::optional<std::uint64_t> size = inputSize(input);
    if (!size) return fail(kCannotReadInput, "the input's length cannot be measured");
    if (*size > kMaxMessageBytes) {
        return fail(kMessageTooLong, "the message is %llu bytes; a WAVE file holds the samples of %llu at most",
                    static_cast<unsigned long long>(*size), static_cast<unsigned long long>(kMaxMessageBytes));
    }
    const auto byteCount = static_cast<std::uint32_t>(*size);
    const std::uint32_t sampleCount = 2 * byteCount;
    const std::uint32_t dataSize = 2 * sampleCount;
    const std::uint32_t seconds = sampleCount / kMessageRate;

    const std::array<std::uint8_t, 44> header = waveHeader(dataSize);
    if (!writeBytes(output, header.data(), header.size())) return kCannotWriteOutput;

    progress.start(byteCount);
    if (progress.cancelled) return kCancelled;

    AdpcmState state;
    constexpr std::size_t kChunk = 16384;
    std::array<std::uint8_t, kChunk> codes;  // filled by each read before use
    std::array<std::uint8_t, kChunk * 4> samples;
    std::uint32_t remaining = byteCount;
    while (remaining > 0) {
        const std::size_t want = std::min<std::size_t>(kChunk, remaining);
        // Only bytes that were really read become samples: a shrunk or unreadable file ends
        // after the last byte that arrived.
        const std::size_t got = readBytes(input, codes.data(), want);
        std::uint8_t* out = samples.data();
        for (std::size_t i = 0; i < got; ++i) {
            const unsigned byte = codes[i];
            const auto high = static_cast<std::uint16_t>(decodeNibble(byte >> kHighNibbleShift, state));
            const auto low = static_cast<std::uint16_t>(decodeNibble(byte & 0x0F, state));
            storeU16le(out, high);
            storeU16le(out + 2, low);
            out += 4;
            --remaining;
            progress.step(remaining);
        }
        if (!writeBytes(output, samples.data(), got * 4)) return kCannotWriteOutput;
        if (got != want) {
            // A read error was noted where it happened; a file that shrank is noted here.
            if (input.ioError) return kCannotReadInput;
            return fail(kCannotReadInput, "the input ended after %u of the %u bytes it had", byteCount - remaining, byteCount);
        }
        if (progress.cancelled) return kCancelled;
    }
    progress.finish(seconds);
    return kOk;
}

}  // namespace aamsg
