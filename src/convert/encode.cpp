// PCM WAVE file to message file: mixdown, rate conversion to 8000 per second, ADPCM.
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

}  // namespace

ExitCode encodeToMessage(InStream& input, OutStream& output, std::FILE* console) {
    WaveFormat format;
    std::uint32_t frameCount = 0;
    if (const ExitCode rc = readWaveHeader(input, format, frameCount); rc != kOk) return rc;

    const std::uint32_t seconds = frameCount / format.sampleRate;
    const double inPeriod = 1.0 / static_cast<double>(format.sampleRate);
    const double outPeriod = 0.000125;
    const bool passThrough = format.sampleRate == kMessageRate;

    // Two frames primed: `current` and the later `next`.
    double current = 0.0;
    double next = 0.0;
    if (const ExitCode rc = readFrame(input, format, current); rc != kOk) return rc;
    std::uint32_t remaining = frameCount - 1;
    if (remaining == 0) {
        next = current;
    } else {
        if (const ExitCode rc = readFrame(input, format, next); rc != kOk) return rc;
        --remaining;
    }
    double tIn = inPeriod;
    double tOut = 0.0;

    ProgressReport progress = makeProgressReport(console);
    progress.start(remaining);

    AdpcmState state;
    std::uint32_t outCount = 0;
    std::uint8_t pending = 0;
    double outValue = 0.0;
    for (;;) {
        unsigned step = 0;
        if (passThrough) {
            tIn += inPeriod;
            tOut += outPeriod;
            outValue = current;
            step = kStepOutput | kStepAdvance;
        } else {
            step = stepResampler(inPeriod, outPeriod, tIn, tOut, next, current, outValue);
        }
        if (step & kStepOutput) {
            const unsigned code = encodeSample(toSample(outValue), state);
            ++outCount;
            if (outCount & 1) {
                pending = static_cast<std::uint8_t>(code << kHighNibbleShift);
            } else {
                pending = static_cast<std::uint8_t>(pending | code);
                if (!writeByte(output, pending)) return kCannotWriteOutput;
            }
        }
        if (step & kStepAdvance) {
            if (remaining == 0) break;
            --remaining;
            current = next;
            if (const ExitCode rc = readFrame(input, format, next); rc != kOk) return rc;
            progress.step(remaining);
        }
    }
    progress.finish(seconds);
    // An odd final code has no partner and is dropped.
    return kOk;
}

}  // namespace aamsg
