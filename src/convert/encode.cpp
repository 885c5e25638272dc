// PCM WAVE file to message file: mixdown, rate conversion to 8000 per second, ADPCM.
#include <array>

#include "codec/adpcm.hpp"
#include "convert/convert.hpp"
#include "wave/wave.hpp"

namespace aamsg {

namespace {

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

    ExitCode fetch(double& sample) {
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

// Packs codes two to a byte, high nibble first; an odd final code is never written.
struct CodePacker {
    OutStream& output;
    AdpcmState state{};
    std::uint32_t outCount = 0;
    std::uint8_t pending = 0;

    bool put(double value) {
        const unsigned code = encodeSample(toSample(value), state);
        ++outCount;
        if (outCount & 1) {
            pending = static_cast<std::uint8_t>(code << kHighNibbleShift);
            return true;
        }
        return writeByte(output, static_cast<std::uint8_t>(pending | code));
    }
};

}  // namespace

ExitCode encodeToMessage(InStream& input, OutStream& output, ProgressReport progress) {
    WaveFormat format;
    std::uint32_t frameCount = 0;
    if (const ExitCode rc = readWaveHeader(input, format, frameCount); rc != kOk) return rc;

    const std::uint32_t seconds = frameCount / format.sampleRate;
    const double inPeriod = 1.0 / static_cast<double>(format.sampleRate);
    const double outPeriod = 0.000125;

    FrameSource frames{input, format};
    // Two frames primed: `current` and the later `next`.
    double current = 0.0;
    double next = 0.0;
    if (const ExitCode rc = frames.fetch(current); rc != kOk) return rc;
    std::uint32_t remaining = frameCount - 1;
    if (remaining == 0) {
        next = current;
    } else {
        if (const ExitCode rc = frames.fetch(next); rc != kOk) return rc;
        --remaining;
    }
    double tIn = inPeriod;
    double tOut = 0.0;

    progress.start(remaining);

    CodePacker packer{output};
    const bool passThrough = format.sampleRate == kMessageRate;
    for (;;) {
        if (passThrough) {
            // Every frame is an output instant; the times still advance as in the general case.
            tIn += inPeriod;
            tOut += outPeriod;
            if (!packer.put(current)) return kCannotWriteOutput;
        } else {
            // stepResampler until it asks for the next frame: outputs while the output instant
            // is not later than `next`, then one advance.
            double outValue = 0.0;
            while (stepResampler(inPeriod, outPeriod, tIn, tOut, next, current, outValue) == kStepOutput) {
                if (!packer.put(outValue)) return kCannotWriteOutput;
            }
        }
        if (remaining == 0) break;
        --remaining;
        current = next;
        if (const ExitCode rc = frames.fetch(next); rc != kOk) return rc;
        progress.step(remaining);
        if (passThrough) continue;

        // Downsampling passes over several frames per output. While no output is due, each
        // pass of the loop above only adds inPeriod to tIn and moves one frame on; do those
        // passes here in a tight loop, over frames already mixed, stopping short of the end
        // and of the next progress mark so that every observable step stays where it was.
        const std::size_t limit = std::min<std::size_t>(frames.count - frames.at, progress.unitsToNextMark(remaining));
        std::size_t skipped = 0;
        while (skipped < limit && tIn < tOut) {
            tIn += inPeriod;
            ++skipped;
        }
        if (skipped > 0) {
            current = skipped >= 2 ? frames.mixed[frames.at + skipped - 2] : next;
            next = frames.mixed[frames.at + skipped - 1];
            frames.at += skipped;
            remaining -= static_cast<std::uint32_t>(skipped);
            progress.step(remaining);
        }
    }
    progress.finish(seconds);
    return kOk;
}

}  // namespace aamsg
