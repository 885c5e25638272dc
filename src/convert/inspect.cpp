// `i`: an audio file through q's own signal source, or any other file decoded as a message.
#include "convert/inspect.hpp"

#include <array>
#include <new>
#include <vector>

#include "codec/adpcm.hpp"
#include "convert/progress_scale.hpp"
#include "convert/signal.hpp"

namespace aamsg {

namespace {

Status inspectAudio(SignalSource& source, ProgressReport& progress, SoundMeter& meter) {
    const ProgressScale scale = progressScale(source.totalUnits, false);
    progress.start(scale.units());
    source.sound = &meter;
    for (bool last = false; !last;) {
        if (progress.cancelled) return kCancelled;
        const Status rc = readValues(source, last);
        if (rc != kOk) return rc;
        progress.passTo(last ? 0 : scale.encoding(signalUnitsLeft(source)));
    }
    return progress.cancelled ? kCancelled : kOk;
}

// Any bytes are a message: two codes each, decoded from the format's starting state.
Status inspectMessage(InStream& input, ProgressReport& progress, SoundMeter& meter) {
    if (!seekRelative(input, -static_cast<std::int64_t>(tellInput(input)))) return kCannotReadInput;
    const std::uint64_t size = inputSize(input).value_or(0);
    const ProgressScale scale = progressScale(size, false);
    progress.start(scale.units());
    AdpcmState state;
    std::uint64_t done = 0;
    std::array<std::uint8_t, 16384> bytes;  // filled by each read before use
    std::vector<float> samples(2 * bytes.size());
    for (;;) {
        if (progress.cancelled) return kCancelled;
        const std::size_t got = readBytes(input, bytes.data(), bytes.size());
        for (std::size_t i = 0; i < got; ++i) {
            samples[2 * i] = decodeNibble(bytes[i] >> kHighNibbleShift, state);
            samples[2 * i + 1] = decodeNibble(bytes[i] & kLowNibbleMask, state);
        }
        const std::span<const float> decoded(samples.data(), 2 * got);
        meterInput(meter, decoded);
        meterMessageRate(meter, decoded);
        done += got;
        if (input.ioError) return kCannotReadInput;
        if (got < bytes.size()) break;
        progress.passTo(scale.encoding(size - std::min(size, done)));
    }
    progress.passTo(0);
    return progress.cancelled ? kCancelled : kOk;
}

Status inspect(InStream& input, ProgressReport& progress, Inspection& result) {
    result = {};
    SoundMeter meter;
    SignalSource source;
    Status rc = openSignal(input, source);
    if (rc == kNotAudioFile) {
        result.message = true;
        result.description = "message";
        result.rate = kMessageRate;
        result.channels = 1;
        rc = inspectMessage(input, progress, meter);
    } else if (rc == kOk) {
        result.description = source.format.description;
        result.rate = source.format.sampleRate;
        result.channels = source.format.channels;
        rc = inspectAudio(source, progress, meter);
    }
    // A file cut short is measured as far as it goes, as q encodes it.
    if (rc != kOk && rc != kCorrupted) return rc;
    result.measures = finishSoundMeter(meter, result.rate);
    result.findings = findingsOf(result.measures);
    return rc;
}

}  // namespace

Status inspectSound(InStream& input, ProgressReport& progress, Inspection& result) {
    try {
        return inspect(input, progress, result);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kInternalError;
    }
}

}  // namespace aamsg
