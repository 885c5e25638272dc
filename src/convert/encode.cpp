// PCM WAVE file to message file: mixdown, rate conversion to 8000 per second, ADPCM.
#include <array>

#include "base/failure.hpp"
#include "convert/message_writer.hpp"
#include "convert/conversions.hpp"
#include "wave/wave.hpp"

namespace aamsg {

namespace {

// The time between output samples.
constexpr double kOutputPeriod = 1.0 / kMessageRate;
static_assert(kOutputPeriod == 0.000125);

// Clipped, then truncated toward zero (not rounded).
std::int16_t toSample(double value) {
    if (value > 32767.0) value = 32767.0;
    if (value < -32768.0) value = -32768.0;
    return static_cast<std::int16_t>(value);
}

// Frames are mixed a block at a time straight from the stream's buffer; a frame that straddles
// two blocks, or is cut short, goes through readFrame, so results and failures are exactly
// those of reading one frame at a time.
struct FrameSource {
    FrameSource(InStream& in, const WaveFormat& layout) : input(in), format(layout) {}

    InStream& input;
    const WaveFormat& format;
    std::array<double, 4096> mixed;  // left uninitialised: only entries below `count` are read
    std::size_t count = 0;
    std::size_t at = 0;

    Status fetch(double& sample) {
        if (at == count && !fill()) return readFrame(input, format, sample);
        sample = mixed[at++];
        return kOk;
    }

    bool fill() {
        const std::size_t align = format.blockAlign;
        const std::span<const std::uint8_t> buffered = peekBytes(input);
        const std::size_t frames = std::min(mixed.size(), buffered.size() / align);
        if (frames == 0) return false;
        if (slotsFitFrame(format)) {
            // In place: the same rule as readFrame, without the copy.
            const WaveFormat layout = format;
            const std::uint8_t* p = buffered.data();
            for (std::size_t i = 0; i < frames; ++i, p += align) mixed[i] = static_cast<double>(mixFrame(p, layout));
            consumeBytes(input, frames * align);
        } else {
            // Whole frames are in the buffer, so these reads cannot fail.
            for (std::size_t i = 0; i < frames; ++i) readFrame(input, format, mixed[i]);
        }
        count = frames;
        at = 0;
        return true;
    }
};

// The linear-interpolation rate converter between the two frames around the next output
// instant. `tIn` is the time of `next`, `tOut` that of the next output sample; both only ever
// grow by repeated addition of their period, which fixes the exact rounding of every instant.
// The arithmetic is IEEE double in exactly this order: the output bytes depend on every rounding.
struct Interpolation {
    double inPeriod = 0.0;
    double current = 0.0;
    double next = 0.0;
    double tIn = 0.0;
    double tOut = 0.0;
    std::uint32_t remaining = 0;  // frames after `next`
};

// Reads the first two frames (one frame serves as both).
Status prime(FrameSource& frames, std::uint32_t frameCount, Interpolation& at) {
    if (const Status rc = frames.fetch(at.current); rc != kOk) return rc;
    at.remaining = frameCount - 1;
    if (at.remaining == 0) {
        at.next = at.current;
    } else {
        if (const Status rc = frames.fetch(at.next); rc != kOk) return rc;
        --at.remaining;
    }
    at.tIn = at.inPeriod;
    return kOk;
}

bool put(MessageWriter& writer, AdpcmState& state, double value) {
    return writeCode(writer, encodeSample(toSample(value), state));
}

// Every output due before the next frame is needed.
bool emitDue(Interpolation& at, bool passThrough, MessageWriter& writer, AdpcmState& state) {
    if (passThrough) {
        // Every frame is an output instant; the times still advance as in the general case.
        at.tIn += at.inPeriod;
        at.tOut += kOutputPeriod;
        return put(writer, state, at.current);
    }
    // The quotient's sign is that of tIn - tOut (inPeriod > 0, and the times are never small
    // enough for it to underflow), so the division is only needed when an output is made.
    while (at.tIn >= at.tOut) {
        const double e = (at.tIn - at.tOut) / at.inPeriod;
        at.tOut += kOutputPeriod;
        if (!put(writer, state, (1.0 - e) * at.next + e * at.current)) return false;
    }
    at.tIn += at.inPeriod;
    return true;
}

// Downsampling passes over several frames per output. While no output is due, each pass of the
// main loop only adds inPeriod to tIn and moves one frame on; these passes run here in a tight
// loop over frames already mixed, stopping short of the end and of the next progress mark so
// that every observable step stays where it was.
void skipToNextOutput(Interpolation& at, FrameSource& frames, ProgressReport& progress) {
    const std::size_t limit = std::min<std::size_t>(frames.count - frames.at, progress.unitsToNextMark(at.remaining));
    std::size_t skipped = 0;
    while (skipped < limit && at.tIn < at.tOut) {
        at.tIn += at.inPeriod;
        ++skipped;
    }
    if (skipped == 0) return;
    at.current = skipped >= 2 ? frames.mixed[frames.at + skipped - 2] : at.next;
    at.next = frames.mixed[frames.at + skipped - 1];
    frames.at += skipped;
    at.remaining -= static_cast<std::uint32_t>(skipped);
    progress.step(at.remaining);
}

// A frame cut short is the data chunk's fault: it declared more than the file holds.
Status framesCut(Status rc, std::uint32_t frameCount) {
    return rc == kCorrupted ? fail(kCorrupted, "its samples end before the %u frames its \"data\" chunk declares", frameCount) : rc;
}

}  // namespace

Status encodeToMessage(InStream& input, OutStream& output, ProgressReport& progress) {
    WaveFormat format;
    std::uint32_t frameCount = 0;
    if (const Status rc = readWaveHeader(input, format, frameCount); rc != kOk) return rc;

    FrameSource frames{input, format};
    Interpolation at;
    at.inPeriod = 1.0 / static_cast<double>(format.sampleRate);
    if (const Status rc = prime(frames, frameCount, at); rc != kOk) return framesCut(rc, frameCount);
    progress.start(at.remaining);
    if (progress.cancelled) return kCancelled;

    MessageWriter writer{output};
    AdpcmState state;
    const bool passThrough = format.sampleRate == kMessageRate;
    for (;;) {
        if (!emitDue(at, passThrough, writer, state)) return kCannotWriteOutput;
        if (at.remaining == 0) break;
        --at.remaining;
        at.current = at.next;
        if (const Status rc = frames.fetch(at.next); rc != kOk) return framesCut(rc, frameCount);
        progress.step(at.remaining);
        if (!passThrough) skipToNextOutput(at, frames, progress);
        if (progress.cancelled) return kCancelled;
    }
    progress.finish(frameCount / format.sampleRate);
    return kOk;
}

}  // namespace aamsg
