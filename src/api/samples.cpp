// The C API's samples in memory: encoded as the WAVE file of those samples would be (the file is
// made up as it is read, never held), and decoded to the samples of 'd''s WAVE file.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "api/buffer.hpp"
#include "api/call.hpp"
#include "io/bytes.hpp"

namespace aamsg {

namespace {

constexpr std::size_t kHeaderBytes = 44;
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// A canonical WAVE file of samples in memory: the 44-byte header, then the samples little-endian.
struct WaveOfSamples {
    std::uint8_t header[kHeaderBytes] = {};
    const std::uint8_t* samples = nullptr;
    std::uint64_t dataBytes = 0;
    unsigned sampleBytes = 2;
};

std::size_t readWave(const ByteSource& self, std::uint64_t offset, std::uint8_t* dst, std::size_t count, bool&) {
    const auto& wave = *static_cast<const WaveOfSamples*>(self.context);
    std::size_t done = 0;
    if (offset < kHeaderBytes) {
        done = static_cast<std::size_t>(std::min<std::uint64_t>(count, kHeaderBytes - offset));
        std::memcpy(dst, wave.header + offset, done);
        offset += done;
    }
    const std::uint64_t at = offset - kHeaderBytes;
    if (at >= wave.dataBytes || done == count) return done;
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, wave.dataBytes - at));
    std::memcpy(dst + done, wave.samples + at, take);
    if constexpr (!kLittleEndian) {
        // The host's order made little-endian, byte by byte: a read may start inside a sample.
        for (std::size_t i = 0; i < take; ++i) {
            const std::uint64_t byte = at + i;
            const std::uint64_t first = byte - byte % wave.sampleBytes;
            dst[done + i] = wave.samples[first + (wave.sampleBytes - 1 - byte % wave.sampleBytes)];
        }
    }
    return done + take;
}

Status waveOf(const void* samples, aamsg_sample_type type, std::size_t frames, unsigned rate, unsigned channels,
              WaveOfSamples& wave) {
    if (type != AAMSG_SAMPLES_INT16 && type != AAMSG_SAMPLES_FLOAT) return fail(kInvalidArgument, "no such sample type: %d", type);
    if (rate == 0 || channels == 0 || channels > 65535) {
        return fail(kInvalidArgument, "a rate of %u and %u channels make no WAVE file", rate, channels);
    }
    wave.sampleBytes = type == AAMSG_SAMPLES_INT16 ? 2 : 4;
    const std::uint64_t frameBytes = std::uint64_t{channels} * wave.sampleBytes;
    if (frameBytes > UINT16_MAX || std::uint64_t{rate} * frameBytes > UINT32_MAX) {
        return fail(kInvalidArgument, "%u channels at %u Hz make no WAVE file", channels, rate);
    }
    if (frames > (UINT32_MAX - 36) / frameBytes) {
        return fail(kInvalidArgument, "%zu frames of %u channels are more than a WAVE file holds (4 GB)", frames, channels);
    }
    if (samples == nullptr && frames > 0) return fail(kInvalidArgument, "no samples");
    wave.samples = static_cast<const std::uint8_t*>(samples);
    wave.dataBytes = frames * frameBytes;
    std::uint8_t* h = wave.header;
    std::memcpy(h, "RIFF", 4);
    storeU32le(h + 4, static_cast<std::uint32_t>(36 + wave.dataBytes));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    storeU32le(h + 16, 16);
    storeU16le(h + 20, type == AAMSG_SAMPLES_INT16 ? 1 : 3);  // PCM, or IEEE float
    storeU16le(h + 22, channels);
    storeU32le(h + 24, rate);
    storeU32le(h + 28, static_cast<std::uint32_t>(rate * frameBytes));
    storeU16le(h + 32, static_cast<std::uint32_t>(frameBytes));
    storeU16le(h + 34, wave.sampleBytes * 8);
    std::memcpy(h + 36, "data", 4);
    storeU32le(h + 40, static_cast<std::uint32_t>(wave.dataBytes));
    return kOk;
}

// 'd''s WAVE file as it is written: the header passed over, each sample stored in the host's
// order in a buffer made for all of them.
struct Samples {
    std::int16_t* data = nullptr;
    std::size_t count = 0;  // room
    std::uint64_t received = 0;  // bytes of the WAVE file so far
    std::uint8_t odd = 0;        // the first byte of a sample split between two writes
};

bool takeWave(const ByteSink& self, const std::uint8_t* bytes, std::size_t size) {
    Samples& samples = *static_cast<Samples*>(self.context);
    std::size_t i = 0;
    for (; i < size && samples.received < kHeaderBytes; ++i) ++samples.received;
    if (i < size && (samples.received - kHeaderBytes) % 2 == 1) {
        const std::uint8_t pair[2] = {samples.odd, bytes[i++]};
        samples.data[(samples.received++ - kHeaderBytes) / 2] = static_cast<std::int16_t>(loadU16le(pair));
    }
    const std::size_t pairs = (size - i) / 2;
    const std::uint64_t next = (samples.received - kHeaderBytes) / 2;
    if (next + pairs + (size - i) % 2 > samples.count) {
        fail(kInternalError, "the decoder wrote more samples than the message holds");
        return false;
    }
    std::int16_t* out = samples.data + next;
    for (std::size_t k = 0; k < pairs; ++k) out[k] = static_cast<std::int16_t>(loadU16le(bytes + i + 2 * k));
    i += 2 * pairs;
    samples.received += 2 * pairs;
    if (i < size) {
        samples.odd = bytes[i];
        ++samples.received;
    }
    return true;
}

}  // namespace

}  // namespace aamsg

extern "C" {

aamsg_status aamsg_encode_samples(const void* samples, aamsg_sample_type type, size_t frames, unsigned rate, unsigned channels,
                                  void** output, size_t* output_size, const aamsg_options* options, aamsg_progress progress,
                                  void* context, aamsg_report* report) {
    using namespace aamsg;
    if (output != nullptr) *output = nullptr;
    if (output_size != nullptr) *output_size = 0;
    if (!reportUsable(report)) return AAMSG_INVALID_ARGUMENT;
    Call call(progress, context, report);
    if (output == nullptr || output_size == nullptr) return finish(call, fail(kInvalidArgument, "no place for the output"));
    WaveOfSamples wave;
    if (const Status rc = waveOf(samples, type, frames, rate, channels, wave); rc != kOk) return finish(call, rc);
    Buffer buffer;
    const Status status = runWithOptions(options, [&](const Request& request) {
        if (request.mode == Mode::Decode) return fail(kInvalidArgument, "samples are encoded with 'e' or 'q', not 'd'");
        InStream in = sourceInput({&wave, kHeaderBytes + wave.dataBytes, readWave, nullptr});
        return convertIntoBuffer(request, in, buffer, call);
    });
    handOver(buffer, output, output_size);
    return finish(call, status);
}

aamsg_status aamsg_decode_samples(const void* message, size_t size, int16_t** samples, size_t* count, aamsg_progress progress,
                                  void* context, aamsg_report* report) {
    using namespace aamsg;
    if (samples != nullptr) *samples = nullptr;
    if (count != nullptr) *count = 0;
    if (!reportUsable(report)) return AAMSG_INVALID_ARGUMENT;
    Call call(progress, context, report);
    if (samples == nullptr || count == nullptr) return finish(call, fail(kInvalidArgument, "no place for the samples"));
    if (message == nullptr && size > 0) return finish(call, fail(kInvalidArgument, "no message bytes"));
    Samples decoded;
    Status status = kOk;
    try {
        // Two samples a byte, known before the first is decoded: one buffer, made once. A
        // message too long for 'd''s WAVE file is refused by the decoder before that.
        if (size <= kMaxMessageBytes && size > 0) {
            decoded.count = 2 * size;
            decoded.data = static_cast<std::int16_t*>(std::malloc(decoded.count * sizeof(std::int16_t)));
            if (decoded.data == nullptr) status = fail(kOutOfMemory, "no memory for %zu samples", decoded.count);
        }
        if (status == kOk) {
            Request request;
            request.mode = Mode::Decode;
            InStream in = memoryInput({static_cast<const std::uint8_t*>(message), size});
            OutStream out = sinkOutput({&decoded, takeWave, nullptr});
            call.outcome = runConversion(request, in, out, call.progress);
            status = call.outcome.status;
        }
    } catch (...) {
        status = statusOf(std::current_exception());
    }
    if (status == kOk && decoded.data != nullptr) {
        *samples = decoded.data;
        *count = decoded.count;
    } else {
        std::free(decoded.data);
    }
    return finish(call, status);
}

}  // extern "C"
