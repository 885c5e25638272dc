// `q`'s signal source: reading, rate conversion, the prompt's shaping, rounding.
#include "convert/signal.hpp"

#include <algorithm>
#include <cmath>

namespace aamsg {

namespace {

// Room in the converted block beyond one read's worth of output, for the filter's delayed
// samples, which all come out with the last read.
constexpr std::size_t kFilterTailRoom = 4096;

// Rounds to the nearest integer and holds the result to the format's range; the format never
// reconstructs -32768, so neither is it asked to.
void roundSamples(const float* values, std::size_t count, SignalBlock& block) {
    for (std::size_t i = 0; i < count; ++i) {
        float v = values[i];
        if (!(v <= 32767.0f && v >= -32767.0f)) {
            ++block.clipped;
            v = v > 0.0f ? 32767.0f : -32767.0f;  // the input's NaNs are silenced on reading; none reaches here
        }
        block.samples.push_back(static_cast<std::int16_t>(std::lrint(v)));
    }
}

// Converts `count` mono samples (`mono` null: the filter's tail) into `source.values`.
Status convertRate(SignalSource& source, const float* mono, std::size_t count) {
    if (!source.resampler) {
        source.values.insert(source.values.end(), mono, mono + count);
        return kOk;
    }
    const std::size_t room = source.converted.size();
    for (;;) {
        std::size_t used = 0;
        std::size_t made = 0;
        if (const Status rc = resample(*source.resampler, mono, count, used, source.converted.data(), room, made); rc != kOk) {
            return rc;
        }
        source.values.insert(source.values.end(), source.converted.data(), source.converted.data() + made);
        if (mono == nullptr) {
            if (made == 0) return kOk;
            continue;
        }
        // A library that takes nothing and gives nothing would keep this loop going for ever.
        if (made == 0 && used == 0 && count > 0) return fail(kInternalError, "libsoxr took no samples and gave none");
        mono += used;
        count -= used;
        if (count == 0 && made < room) return kOk;
    }
}

// The prompt's level and length applied to the values, which the meter then measures.
std::span<const float> shapeValues(SignalSource& source, bool last) {
    source.processed.resize(source.values.size() + kPromptDelay);
    std::size_t n = processPrompt(source.prompt, source.values, source.processed.data());
    if (last) n += finishPrompt(source.prompt, source.processed.data() + n);
    const std::span<const float> shaped(source.processed.data(), n);
    meterSamples(source.output, shaped);
    return shaped;
}

}  // namespace

Status openSignal(InStream& input, SignalSource& source, const PromptPlan* plan) {
    if (!seekRelative(input, -static_cast<std::int64_t>(tellInput(input)))) {
        return fail(kCannotReadInput, "the input cannot be read again from its start");
    }
    if (const Status rc = openAudio(input, source.file, source.format); rc != kOk) return rc;
    source.shaped = plan != nullptr;
    if (source.shaped) source.prompt = makePromptProcessor(*plan);
    if (source.format.sampleRate != kMessageRate) {
        if (const Status rc = makeResampler(source.format.sampleRate, source.resampler); rc != kOk) return rc;
        source.converted.resize(kFramesPerRead * kMessageRate / source.format.sampleRate + kFilterTailRoom);
    }
    source.byBytes = source.format.frames == kUnknownFrames;
    source.totalUnits = source.byBytes ? inputSize(input).value_or(0) : source.format.frames;
    return kOk;
}

Status readValues(SignalSource& source, bool& last) {
    source.values.clear();
    std::size_t got = 0;
    Status rc = readMono(*source.file, source.mono.data(), source.mono.size(), got);
    source.framesRead += got;
    const Status converted = convertRate(source, source.mono.data(), got);
    if (converted != kOk) {
        rc = converted;
    } else if (got == 0 || rc != kOk) {
        // The end, or a failure of the input: what arrived before it is still encoded.
        if (const Status tail = convertRate(source, nullptr, 0); tail != kOk) rc = tail;
    }
    if (source.sound != nullptr) {
        meterInput(*source.sound, {source.mono.data(), got});
        meterMessageRate(*source.sound, source.values);
    }
    last = got == 0 || rc != kOk;
    return rc;
}

void nextBlock(SignalSource& source, SignalBlock& block) {
    block.samples.clear();
    block.clipped = 0;
    const std::uint64_t notNumbersBefore = audioNotNumbers(*source.file);
    block.status = readValues(source, block.last);
    block.note = block.status != kOk && lastFailure().status == block.status ? std::make_shared<FailureNote>(lastFailure()) : nullptr;
    block.notNumbers = audioNotNumbers(*source.file) - notNumbersBefore;
    const std::span<const float> values = source.shaped ? shapeValues(source, block.last) : std::span<const float>(source.values);
    roundSamples(values.data(), values.size(), block);
    block.unitsLeft = block.last ? 0 : signalUnitsLeft(source);
}

std::uint64_t signalUnitsLeft(const SignalSource& source) {
    const std::uint64_t done = source.byBytes ? audioBytesRead(*source.file) : source.framesRead;
    return source.totalUnits - std::min(source.totalUnits, done);
}

Status takeStatus(Status status, const std::shared_ptr<const FailureNote>& note) {
    return note != nullptr && note->status == status ? fail(*note) : status;
}

}  // namespace aamsg
